// SPDX-License-Identifier: Apache-2.0
#include "service/http/Api.h"

#include "core/pages/edid/EdidModes.h"
#include "service/hub/Hub.h"

#include <memory>
#include <set>

namespace matrix::service {

namespace {

using Json = nlohmann::json;
using Reply = std::function<void(HttpResponse)>;
using client::Status;

constexpr std::size_t kMaxSceneNameBytes = 64;
constexpr std::size_t kMaxPortNameBytes = 64;

HttpResponse jsonResponse(int status, const Json& body) { return {status, body.dump(), "application/json", {}}; }
HttpResponse errorResponse(int status, const std::string& text) { return jsonResponse(status, {{"error", text}}); }

// How a client status reads over HTTP.
HttpResponse statusResponse(Status status, const std::string& message)
{
    const std::string text = message.empty() ? client::statusText(status) : message;
    switch (status) {
    case Status::Ok: return jsonResponse(200, {{"status", "ok"}});
    case Status::TimeOut: return errorResponse(504, client::statusText(status));
    case Status::Standby: return errorResponse(409, client::statusText(status));
    case Status::LinkDown: return errorResponse(503, text.empty() ? "Link to the matrix is down" : text);
    case Status::Busy: return errorResponse(409, "Firmware upgrade running");
    case Status::BadInput: return errorResponse(400, text);
    case Status::Rejected: return errorResponse(502, text.empty() ? "The matrix refused the request" : text);
    }
    return errorResponse(500, "unknown status");
}

HttpResponse lockedResponse() { return errorResponse(423, "Output is locked"); }

// Something that refuses a request before it reaches the matrix.
struct Refusal {
    HttpResponse response;
};

Json parseBody(const HttpRequest& request)
{
    Json body = Json::parse(request.body, nullptr, false);
    if (body.is_discarded())
        throw Refusal{errorResponse(400, "malformed JSON")};
    if (!body.is_object())
        throw Refusal{errorResponse(400, "the body must be a JSON object")};
    return body;
}

int findInput(const MatrixUnit& unit, const Json& value)
{
    std::optional<int> input;
    if (value.is_number_integer()) {
        const auto n = value.get<std::int64_t>();
        if (n >= 1 && n <= client::kPortCount)
            input = static_cast<int>(n);
        else
            throw Refusal{errorResponse(404, "unknown input " + value.dump())};
    } else if (value.is_string()) {
        input = unit.findInput(value.get<std::string>());
        if (!input)
            throw Refusal{errorResponse(404, "unknown input " + value.dump())};
    } else {
        throw Refusal{errorResponse(400, "an input is a number 1-4 or an input's name")};
    }
    return *input;
}

int findOutput(const MatrixUnit& unit, const std::string& text)
{
    const auto output = unit.findOutput(text);
    if (!output)
        throw Refusal{errorResponse(404, "unknown output '" + text + "'")};
    return *output;
}

// An output -> input table as in {"A":2,"B":"Camera"}: each output once.
std::vector<std::pair<int, int>> readRoutingTable(const MatrixUnit& unit, const Json& table)
{
    if (!table.is_object() || table.empty())
        throw Refusal{errorResponse(400, "routing must be an object of output: input")};
    std::vector<std::pair<int, int>> steps;
    std::array<bool, client::kPortCount> seen{};
    for (const auto& [key, value] : table.items()) {
        const int output = findOutput(unit, key);
        if (seen[output - 1])
            throw Refusal{errorResponse(400, "output '" + key + "' named twice")};
        seen[output - 1] = true;
        steps.emplace_back(output, findInput(unit, value));
    }
    return steps;
}

void requireMethod(const HttpRequest& request, std::initializer_list<const char*> allowed)
{
    std::string allow;
    for (const char* method : allowed) {
        if (request.method == method)
            return;
        allow += (allow.empty() ? "" : ", ") + std::string(method);
    }
    HttpResponse response = errorResponse(405, "method not allowed");
    response.headers.emplace_back("Allow", allow);
    throw Refusal{response};
}

// Requests that talk to the matrix are refused at once while it cannot take them.
void requireReady(MatrixUnit& unit)
{
    if (unit.client().firmwareRunning())
        throw Refusal{errorResponse(409, "Firmware upgrade running")};
    if (!unit.client().linkUp())
        throw Refusal{errorResponse(503, "Link to the matrix is down")};
}

bool validName(const std::string& name, std::size_t maxBytes)
{
    if (name.empty() || name.size() > maxBytes)
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

// Routes the steps in order; stops at the first failure.
void routeSteps(MatrixUnit& unit, std::shared_ptr<std::vector<std::pair<int, int>>> steps, std::size_t next,
                std::function<void(Status, RouteRefusal)> done)
{
    if (next >= steps->size()) {
        done(Status::Ok, RouteRefusal::None);
        return;
    }
    const auto [output, input] = (*steps)[next];
    unit.route(output, input, 0, [&unit, steps, next, done = std::move(done)](Status status, RouteRefusal refusal) {
        if (status != Status::Ok) {
            done(status, refusal);
            return;
        }
        routeSteps(unit, steps, next + 1, done);
    });
}

Json sceneJson(const MatrixUnit& unit, const std::string& name, const SceneRouting& routing)
{
    Json table = Json::object();
    for (int output = 1; output <= client::kPortCount; ++output)
        if (routing[output - 1] != 0)
            table[std::string(1, static_cast<char>('A' + output - 1))] = routing[output - 1];
    return {{"name", name}, {"routing", table}};
}

class Handler {
public:
    Handler(Hub& hub, std::set<std::string>& firmwareActive, const HttpRequest& request, Reply reply)
        : hub_(hub), firmwareActive_(firmwareActive), request_(request), segments_(request.segments),
          reply_(std::move(reply))
    {
    }

    void run()
    {
        // segments_: api v1 ...
        if (segments_.size() < 3 || segments_[0] != "api" || segments_[1] != "v1")
            throw Refusal{errorResponse(404, "no such path")};
        if (segments_[2] != "matrices" || segments_.size() > 7)
            throw Refusal{errorResponse(404, "no such path")};
        if (segments_.size() == 3) {
            requireMethod(request_, {"GET"});
            Json list = Json::array();
            for (MatrixUnit* unit : hub_.units())
                list.push_back(unit->summaryJson());
            return reply(200, list);
        }
        unit_ = hub_.find(segments_[3]);
        if (!unit_)
            throw Refusal{errorResponse(404, "unknown matrix '" + segments_[3] + "'")};
        if (segments_.size() == 4) {
            requireMethod(request_, {"GET"});
            return reply(200, unit_->toJson());
        }
        const std::string& what = segments_[4];
        if (what == "outputs")
            return outputs();
        if (what == "inputs")
            return inputs();
        if (what == "routing" && segments_.size() == 5)
            return routing();
        if (what == "scenes")
            return scenes();
        if (what == "beep" && segments_.size() == 5)
            return beep();
        if (what == "factory-reset" && segments_.size() == 5)
            return factoryReset();
        if (what == "firmware" && segments_.size() == 5)
            return firmware();
        throw Refusal{errorResponse(404, "no such path")};
    }

private:
    void reply(int status, const Json& body) { reply_(jsonResponse(status, body)); }
    void reply(HttpResponse response) { reply_(std::move(response)); }

    // Completion of a route-like request: the answer body once it went through.
    std::function<void(Status, RouteRefusal)> answerWith(std::function<Json()> body)
    {
        return [reply = reply_, body = std::move(body)](Status status, RouteRefusal refusal) {
            if (refusal == RouteRefusal::Locked)
                reply(lockedResponse());
            else if (status != Status::Ok)
                reply(statusResponse(status, {}));
            else
                reply(jsonResponse(200, body()));
        };
    }

    template <typename T>
    std::function<void(const client::Result<T>&)> answerResult(std::function<Json()> body)
    {
        return [reply = reply_, body = std::move(body)](const client::Result<T>& result) {
            reply(result.ok() ? jsonResponse(200, body()) : statusResponse(result.status, result.message));
        };
    }

    void outputs()
    {
        if (segments_.size() == 5) {
            requireMethod(request_, {"GET"});
            return reply(200, unit_->toJson()["outputs"]);
        }
        const int output = findOutput(*unit_, segments_[5]);
        if (segments_.size() == 7) {
            if (segments_[6] != "name")
                throw Refusal{errorResponse(404, "no such path")};
            return rename(false, output);
        }
        requireMethod(request_, {"GET", "PUT"});
        if (request_.method == "GET")
            return reply(200, unit_->outputJson(output));
        const Json body = parseBody(request_);
        if (!body.contains("input"))
            throw Refusal{errorResponse(400, "missing field 'input'")};
        const int input = findInput(*unit_, body["input"]);
        if (unit_->lockOwner(output) != 0)
            throw Refusal{lockedResponse()};
        requireReady(*unit_);
        MatrixUnit* unit = unit_;
        unit_->route(output, input, 0, answerWith([unit, output] { return unit->outputJson(output); }));
    }

    void inputs()
    {
        if (segments_.size() == 5) {
            requireMethod(request_, {"GET"});
            return reply(200, unit_->toJson()["inputs"]);
        }
        const bool all = segments_[5] == "all";
        const auto input = all ? std::optional<int>(0) : unit_->findInput(segments_[5]);
        if (!input)
            throw Refusal{errorResponse(404, "unknown input '" + segments_[5] + "'")};
        if (segments_.size() == 6) {
            requireMethod(request_, {"GET"});
            if (all)
                throw Refusal{errorResponse(404, "no such path")};
            return reply(200, unit_->toJson()["inputs"][*input - 1]);
        }
        if (segments_[6] == "name" && !all)
            return rename(true, *input);
        if (segments_[6] != "edid")
            throw Refusal{errorResponse(404, "no such path")};
        edid(*input);
    }

    void rename(bool input, int number)
    {
        requireMethod(request_, {"PUT"});
        const Json body = parseBody(request_);
        if (!body.contains("name") || !body["name"].is_string() ||
            !validName(body["name"].get<std::string>(), kMaxPortNameBytes))
            throw Refusal{errorResponse(400, "name must be a text of 1-64 bytes without control characters")};
        const std::string name = body["name"].get<std::string>();
        // Names pick ports in requests: two ports of a side never share one.
        for (int other = 1; other <= client::kPortCount; ++other)
            if (other != number && (input ? unit_->inputName(other) : unit_->outputName(other)) == name)
                throw Refusal{errorResponse(409, "'" + name + "' already names " + (input ? "input " : "output ") +
                                                     std::to_string(other))};
        if (!(input ? unit_->renameInput(number, name) : unit_->renameOutput(number, name)))
            throw Refusal{errorResponse(500, "the state file could not be written")};
        reply(200, input ? unit_->toJson()["inputs"][number - 1] : unit_->outputJson(number));
    }

    void edid(int input)
    {
        requireMethod(request_, {"PUT"});
        MatrixUnit* unit = unit_;
        // After a change the status is read again, so the answer (and the
        // edid events) show what the inputs now hold.
        auto answer = [unit, input, reply = reply_](const client::Result<client::Nothing>& result) {
            if (!result.ok())
                return reply(statusResponse(result.status, result.message));
            unit->client().readEdidStatus([unit, input, reply](const client::Result<client::EdidCodes>&) {
                reply(jsonResponse(200, {{"input", input == 0 ? Json("all") : Json(input)},
                                         {"edid", unit->toJson()["edid"]}}));
            });
        };
        if (request_.contentType == "application/octet-stream") {
            if (request_.body.size() != 128 && request_.body.size() != 256)
                throw Refusal{errorResponse(400, "an EDID file has 128 or 256 bytes")};
            requireReady(*unit_);
            const std::vector<std::uint8_t> bytes(request_.body.begin(), request_.body.end());
            return unit_->client().uploadEdid(bytes, input, answer);
        }
        const Json body = parseBody(request_);
        if (body.contains("mode") == body.contains("copy_from"))
            throw Refusal{errorResponse(400, "give either 'mode' (0-15) or 'copy_from' (an output)")};
        if (body.contains("mode")) {
            const Json& mode = body["mode"];
            if (!mode.is_number_integer() || mode.get<std::int64_t>() < 0 ||
                mode.get<std::int64_t>() >= edid::kModeRowCount)
                throw Refusal{errorResponse(400, "mode must be a number 0-15")};
            requireReady(*unit_);
            return unit_->client().setEdidMode(mode.get<int>(), input, answer);
        }
        const Json& from = body["copy_from"];
        int output = 0;
        if (from.is_number_integer()) {
            const auto n = from.get<std::int64_t>();
            if (n < 1 || n > client::kPortCount)
                throw Refusal{errorResponse(404, "unknown output " + from.dump())};
            output = static_cast<int>(n);
        } else if (from.is_string()) {
            output = findOutput(*unit_, from.get<std::string>());
        } else {
            throw Refusal{errorResponse(400, "copy_from must be an output number, letter or name")};
        }
        requireReady(*unit_);
        unit_->client().copyEdid(output, input, answer);
    }

    void routing()
    {
        requireMethod(request_, {"GET", "PUT"});
        if (request_.method == "GET")
            return reply(200, unit_->routingJson());
        const Json body = parseBody(request_);
        auto steps = std::make_shared<std::vector<std::pair<int, int>>>(readRoutingTable(*unit_, body));
        for (const auto& [output, input] : *steps)
            if (unit_->lockOwner(output) != 0)
                throw Refusal{lockedResponse()};
        requireReady(*unit_);
        MatrixUnit* unit = unit_;
        routeSteps(*unit_, steps, 0, answerWith([unit] { return unit->routingJson(); }));
    }

    void scenes()
    {
        if (segments_.size() == 5) {
            requireMethod(request_, {"GET"});
            Json list = Json::array();
            for (const auto& name : unit_->sceneNames())
                list.push_back(sceneJson(*unit_, name, *unit_->scene(name)));
            return reply(200, list);
        }
        const std::string& name = segments_[5];
        if (segments_.size() == 7) {
            if (segments_[6] != "recall")
                throw Refusal{errorResponse(404, "no such path")};
            requireMethod(request_, {"POST"});
            if (!unit_->scene(name))
                throw Refusal{errorResponse(404, "unknown scene '" + name + "'")};
            requireReady(*unit_);
            MatrixUnit* unit = unit_;
            return unit_->recallScene(name, 0, answerWith([unit] { return unit->routingJson(); }));
        }
        requireMethod(request_, {"GET", "PUT", "DELETE"});
        if (request_.method == "GET") {
            const auto scene = unit_->scene(name);
            if (!scene)
                throw Refusal{errorResponse(404, "unknown scene '" + name + "'")};
            return reply(200, sceneJson(*unit_, name, *scene));
        }
        if (request_.method == "DELETE") {
            if (!unit_->scene(name))
                throw Refusal{errorResponse(404, "unknown scene '" + name + "'")};
            if (!unit_->deleteScene(name))
                throw Refusal{errorResponse(500, "the state file could not be written")};
            return reply(200, {{"deleted", name}});
        }
        if (!validName(name, kMaxSceneNameBytes))
            throw Refusal{errorResponse(400, "a scene name has 1-64 bytes without control characters")};
        const Json body = parseBody(request_);
        SceneRouting routing{};
        if (body.contains("from") == body.contains("routing"))
            throw Refusal{errorResponse(400, "give either 'routing' or 'from':'current'")};
        if (body.contains("from")) {
            if (body["from"] != "current")
                throw Refusal{errorResponse(400, "'from' can only be \"current\"")};
            for (int output = 1; output <= client::kPortCount; ++output) {
                const auto input = unit_->state().routing[output - 1];
                if (!input)
                    throw Refusal{errorResponse(503, "the current routing is not known yet")};
                routing[output - 1] = *input;
            }
        } else {
            for (const auto& [output, input] : readRoutingTable(*unit_, body["routing"]))
                routing[output - 1] = input;
        }
        if (unit_->sceneLimitReached(name))
            throw Refusal{errorResponse(409, "a matrix keeps at most " + std::to_string(MatrixUnit::kMaxScenes) +
                                                 " scenes; delete one first")};
        if (!unit_->saveScene(name, routing))
            throw Refusal{errorResponse(500, "the state file could not be written")};
        reply(200, sceneJson(*unit_, name, routing));
    }

    void beep()
    {
        requireMethod(request_, {"GET", "PUT"});
        if (request_.method == "GET")
            return reply(200, {{"on", unit_->toJson()["beep"]}});
        const Json body = parseBody(request_);
        if (!body.contains("on") || !body["on"].is_boolean())
            throw Refusal{errorResponse(400, "'on' must be true or false")};
        const bool on = body["on"].get<bool>();
        requireReady(*unit_);
        unit_->client().setBeep(on, answerResult<client::Nothing>([on] { return Json{{"on", on}}; }));
    }

    void factoryReset()
    {
        requireMethod(request_, {"POST"});
        requireReady(*unit_);
        unit_->client().factoryReset(answerResult<client::Nothing>([] { return Json{{"status", "ok"}}; }));
    }

    void firmware()
    {
        requireMethod(request_, {"POST"});
        if (request_.contentType != "application/octet-stream")
            throw Refusal{errorResponse(400, "send the firmware file as application/octet-stream")};
        if (request_.body.empty())
            throw Refusal{errorResponse(400, "empty firmware file")};
        if (firmwareActive_.count(unit_->id()) != 0)
            throw Refusal{errorResponse(409, "Firmware upgrade running")};
        requireReady(*unit_);
        Hub& hub = hub_;
        const std::string id = unit_->id();
        const std::vector<std::uint8_t> bytes(request_.body.begin(), request_.body.end());
        // Until the client ends it, a second upload to the same matrix is refused.
        firmwareActive_.insert(id);
        std::set<std::string>* activeSet = &firmwareActive_;
        unit_->client().upgradeFirmware(bytes, [&hub, id, activeSet](const client::Result<client::Nothing>& result) {
            activeSet->erase(id);
            Json event{{"type", "firmware"}, {"matrix", id}, {"state", result.ok() ? "done" : "failed"}};
            if (!result.ok())
                event["error"] = result.message.empty() ? client::statusText(result.status) : result.message;
            hub.publish(event);
        });
        reply(202, {{"status", "started"}, {"bytes", bytes.size()}});
    }

    Hub& hub_;
    std::set<std::string>& firmwareActive_;
    const HttpRequest& request_;
    const std::vector<std::string>& segments_;
    Reply reply_;
    MatrixUnit* unit_ = nullptr;
};

}  // namespace

void Api::handle(const HttpRequest& request, std::function<void(HttpResponse)> reply)
{
    try {
        Handler(hub_, firmwareActive_, request, reply).run();
    } catch (const Refusal& refusal) {
        reply(refusal.response);
    } catch (const nlohmann::json::exception& error) {
        reply(errorResponse(400, error.what()));
    }
}

}  // namespace matrix::service
