// SPDX-License-Identifier: Apache-2.0
#include "service/http/Api.h"

#include "core/formats/EdidModes.h"
#include "service/http/Router.h"
#include "service/hub/EventJson.h"
#include "service/hub/Hub.h"

#include <algorithm>
#include <memory>

namespace matrix::service {

namespace {

using Json = nlohmann::json;
using Reply = std::function<void(HttpResponse)>;

HttpResponse jsonResponse(int status, const Json& body) { return {status, body.dump(), "application/json", {}}; }
HttpResponse errorResponse(int status, const std::string& text) { return jsonResponse(status, {{"error", text}}); }

// How the hub's answer reads over HTTP.
HttpResponse outcomeResponse(const Outcome& outcome)
{
    if (outcome.ok())
        return jsonResponse(200, {{"status", "ok"}});
    return errorResponse(httpStatus(outcome.refusal), outcome.text());
}

// Something that refuses a request before it reaches the matrix.
struct Refused {
    HttpResponse response;
};

Json parseBody(const HttpRequest& request)
{
    Json body = Json::parse(request.body, nullptr, false);
    if (body.is_discarded())
        throw Refused{errorResponse(400, "malformed JSON")};
    if (!body.is_object())
        throw Refused{errorResponse(400, "the body must be a JSON object")};
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
            throw Refused{errorResponse(404, "unknown input " + value.dump())};
    } else if (value.is_string()) {
        input = unit.findInput(value.get<std::string>());
        if (!input)
            throw Refused{errorResponse(404, "unknown input " + value.dump())};
    } else {
        throw Refused{errorResponse(400, "an input is a number 1-4 or an input's name")};
    }
    return *input;
}

int findOutput(const MatrixUnit& unit, const std::string& text)
{
    const auto output = unit.findOutput(text);
    if (!output)
        throw Refused{errorResponse(404, "unknown output '" + text + "'")};
    return *output;
}

// An output -> input table as in {"A":2,"B":"Camera"}: each output once.
std::vector<std::pair<int, int>> readRoutingTable(const MatrixUnit& unit, const Json& table)
{
    if (!table.is_object() || table.empty())
        throw Refused{errorResponse(400, "routing must be an object of output: input")};
    std::vector<std::pair<int, int>> steps;
    std::array<bool, client::kPortCount> seen{};
    for (const auto& [key, value] : table.items()) {
        const int output = findOutput(unit, key);
        if (seen[output - 1])
            throw Refused{errorResponse(400, "output '" + key + "' named twice")};
        seen[output - 1] = true;
        steps.emplace_back(output, findInput(unit, value));
    }
    return steps;
}

// An operation the hub refused is answered at once.
void require(const Outcome& outcome)
{
    if (!outcome.ok())
        throw Refused{outcomeResponse(outcome)};
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
    Handler(Hub& hub, const HttpRequest& request, Reply reply)
        : hub_(hub),
          request_(request),
          segments_(request.segments),
          reply_(std::move(reply)),
          caller_{"http", request.peer, 0, request.tokenName, request.role}
    {
    }

    void run()
    {
        const auto found = routes().find(request_.method, segments_);
        if (found.status == 404)
            throw Refused{errorResponse(404, "no such path")};
        // An unknown matrix is named before a wrong method.
        if (segments_.size() >= 4) {
            unit_ = hub_.find(segments_[3]);
            if (!unit_)
                throw Refused{errorResponse(404, "unknown matrix '" + segments_[3] + "'")};
        }
        if (found.status == 405) {
            HttpResponse response = errorResponse(405, "method not allowed");
            response.headers.emplace_back("Allow", found.allow);
            throw Refused{response};
        }
        (this->*(*found.handler))();
    }

    // Every API route: what a request reaches, and 404 and 405 with Allow, follow from this table.
    static const Router<void (Handler::*)()>& routes()
    {
        static const std::string m = "/api/v1/matrices/{matrix}";
        static const Router<void (Handler::*)()> table({
            {"GET", "/api/v1/access", &Handler::access},
            {"GET", "/api/v1/matrices", &Handler::list},
            {"GET", m, &Handler::matrix},
            {"GET", m + "/outputs", &Handler::outputList},
            {"GET", m + "/outputs/{output}", &Handler::outputGet},
            {"PUT", m + "/outputs/{output}", &Handler::outputRoute},
            {"PUT", m + "/outputs/{output}/name", &Handler::outputRename},
            {"GET", m + "/inputs", &Handler::inputList},
            {"GET", m + "/inputs/{input}", &Handler::inputGet},
            {"PUT", m + "/inputs/{input}/name", &Handler::inputRename},
            {"PUT", m + "/inputs/{input}/edid", &Handler::inputEdid},
            {"GET", m + "/routing", &Handler::routingGet},
            {"PUT", m + "/routing", &Handler::routingPut},
            {"GET", m + "/scenes", &Handler::sceneList},
            {"GET", m + "/scenes/{scene}", &Handler::sceneGet},
            {"PUT", m + "/scenes/{scene}", &Handler::scenePut},
            {"DELETE", m + "/scenes/{scene}", &Handler::sceneDelete},
            {"POST", m + "/scenes/{scene}/recall", &Handler::sceneRecall},
            {"GET", m + "/beep", &Handler::beepGet},
            {"PUT", m + "/beep", &Handler::beepPut},
            {"POST", m + "/factory-reset", &Handler::factoryReset},
            {"POST", m + "/firmware", &Handler::firmware},
            {"GET", m + "/pending", &Handler::pendingGet},
            {"PUT", m + "/pending", &Handler::pendingPut},
            {"DELETE", m + "/pending", &Handler::pendingDelete},
            {"POST", m + "/take", &Handler::take},
            {"GET", m + "/schedules", &Handler::scheduleList},
            {"GET", m + "/schedules/{schedule}", &Handler::scheduleGet},
            {"PUT", m + "/schedules/{schedule}", &Handler::schedulePut},
            {"DELETE", m + "/schedules/{schedule}", &Handler::scheduleDelete},
        });
        return table;
    }

private:
    void reply(int status, const Json& body) { reply_(jsonResponse(status, body)); }

    // Completion of an accepted operation: the answer body once it went through.
    MatrixUnit::Done answerWith(std::function<Json()> body)
    {
        return [reply = reply_, body = std::move(body)](const Outcome& outcome) {
            reply(outcome.ok() ? jsonResponse(200, body()) : outcomeResponse(outcome));
        };
    }

    // Whose token this is and what it may do, so that a page shows only what works.
    void access() { reply(200, {{"token", request_.tokenName}, {"role", std::string(roleName(request_.role))}}); }

    void list()
    {
        Json list = Json::array();
        for (MatrixUnit* unit : hub_.units())
            list.push_back(unit->summaryJson());
        reply(200, list);
    }

    void matrix() { reply(200, unit_->toJson()); }

    // The path's port: segment 5 of /api/v1/matrices/{matrix}/outputs/{output}/...
    const std::string& portInPath() const { return segments_[5]; }

    void outputList() { reply(200, unit_->toJson()["outputs"]); }
    void outputGet() { reply(200, unit_->outputJson(findOutput(*unit_, portInPath()))); }
    void outputRename() { rename(PortSide::Output, findOutput(*unit_, portInPath())); }

    void outputRoute()
    {
        const int output = findOutput(*unit_, portInPath());
        const Json body = parseBody(request_);
        if (!body.contains("input"))
            throw Refused{errorResponse(400, "missing field 'input'")};
        const int input = findInput(*unit_, body["input"]);
        MatrixUnit* unit = unit_;
        require(unit_->route(caller_, output, input, answerWith([unit, output] { return unit->outputJson(output); })));
    }

    // The path's input; "all" (0) names every input, and only an EDID takes it.
    int inputInPath(bool allowAll) const
    {
        const bool all = portInPath() == "all";
        const auto input = all ? std::optional<int>(0) : unit_->findInput(portInPath());
        if (!input)
            throw Refused{errorResponse(404, "unknown input '" + portInPath() + "'")};
        if (all && !allowAll)
            throw Refused{errorResponse(404, "no such path")};
        return *input;
    }

    void inputList() { reply(200, unit_->toJson()["inputs"]); }
    void inputGet() { reply(200, unit_->toJson()["inputs"][inputInPath(false) - 1]); }
    void inputRename() { rename(PortSide::Input, inputInPath(false)); }
    void inputEdid() { edid(inputInPath(true)); }

    void rename(PortSide side, int number)
    {
        const Json body = parseBody(request_);
        if (!body.contains("name") || !body["name"].is_string())
            throw Refused{errorResponse(400, "'name' must be a text")};
        require(unit_->rename(caller_, side, {{number, body["name"].get<std::string>()}}));
        reply(200, side == PortSide::Input ? unit_->toJson()["inputs"][number - 1] : unit_->outputJson(number));
    }

    void edid(int input)
    {
        MatrixUnit* unit = unit_;
        auto answer = answerWith([unit, input] {
            return Json{{"input", input == 0 ? Json("all") : Json(input)}, {"edid", unit->toJson()["edid"]}};
        });
        if (request_.contentType == "application/octet-stream") {
            if (request_.body.size() != 128 && request_.body.size() != 256)
                throw Refused{errorResponse(400, "an EDID file has 128 or 256 bytes")};
            const std::vector<std::uint8_t> bytes(request_.body.begin(), request_.body.end());
            return require(unit_->uploadEdid(caller_, bytes, input, answer));
        }
        const Json body = parseBody(request_);
        if (body.contains("mode") == body.contains("copy_from"))
            throw Refused{errorResponse(400, "give either 'mode' (0-15) or 'copy_from' (an output)")};
        if (body.contains("mode")) {
            const Json& mode = body["mode"];
            if (!mode.is_number_integer() || mode.get<std::int64_t>() < 0 ||
                mode.get<std::int64_t>() >= edid::kModeRowCount)
                throw Refused{errorResponse(400, "mode must be a number 0-15")};
            return require(unit_->setEdidMode(caller_, mode.get<int>(), input, answer));
        }
        const Json& from = body["copy_from"];
        int output = 0;
        if (from.is_number_integer()) {
            const auto n = from.get<std::int64_t>();
            if (n < 1 || n > client::kPortCount)
                throw Refused{errorResponse(404, "unknown output " + from.dump())};
            output = static_cast<int>(n);
        } else if (from.is_string()) {
            output = findOutput(*unit_, from.get<std::string>());
        } else {
            throw Refused{errorResponse(400, "copy_from must be an output number, letter or name")};
        }
        require(unit_->copyEdid(caller_, output, input, answer));
    }

    void routingGet() { reply(200, unit_->routingJson()); }

    void routingPut()
    {
        const Json body = parseBody(request_);
        std::vector<MatrixUnit::Route> steps;
        for (const auto& [output, input] : readRoutingTable(*unit_, body))
            steps.push_back({output, input});
        MatrixUnit* unit = unit_;
        require(unit_->routeSteps(caller_, std::move(steps), answerWith([unit] { return unit->routingJson(); })));
    }

    void sceneList()
    {
        Json list = Json::array();
        for (const auto& name : unit_->sceneNames())
            list.push_back(sceneJson(*unit_, name, *unit_->scene(name)));
        reply(200, list);
    }

    // What the path names (segment 5: a scene's or a schedule's name), else 404.
    template <class T>
    T named(const std::optional<T>& found, const char* kind) const
    {
        if (!found)
            throw Refused{errorResponse(404, std::string("unknown ") + kind + " '" + segments_[5] + "'")};
        return *found;
    }

    void sceneGet() { reply(200, sceneJson(*unit_, segments_[5], named(unit_->scene(segments_[5]), "scene"))); }

    void sceneDelete()
    {
        require(unit_->deleteScene(caller_, segments_[5]));
        reply(200, {{"deleted", segments_[5]}});
    }

    void sceneRecall()
    {
        MatrixUnit* unit = unit_;
        require(unit_->recallScene(caller_, segments_[5], answerWith([unit] { return unit->routingJson(); })));
    }

    void scenePut()
    {
        const std::string& name = segments_[5];
        const Json body = parseBody(request_);
        SceneRouting routing{};
        if (body.contains("from") == body.contains("routing"))
            throw Refused{errorResponse(400, "give either 'routing' or 'from':'current'")};
        if (body.contains("from")) {
            if (body["from"] != "current")
                throw Refused{errorResponse(400, "'from' can only be \"current\"")};
            for (int output = 1; output <= client::kPortCount; ++output) {
                const auto input = unit_->state().routing[output - 1];
                if (!input)
                    throw Refused{errorResponse(503, "the current routing is not known yet")};
                routing[output - 1] = *input;
            }
        } else {
            for (const auto& [output, input] : readRoutingTable(*unit_, body["routing"]))
                routing[output - 1] = input;
        }
        require(unit_->saveScene(caller_, name, routing));
        reply(200, sceneJson(*unit_, name, routing));
    }

    void pendingGet() { reply(200, pendingJson(unit_->pending())); }

    void pendingPut()
    {
        std::vector<MatrixUnit::Route> routes;
        for (const auto& [output, input] : readRoutingTable(*unit_, parseBody(request_)))
            routes.push_back({output, input});
        require(unit_->stage(caller_, routes));
        pendingGet();
    }

    void pendingDelete()
    {
        require(unit_->clearPending(caller_));
        pendingGet();
    }

    // The routing the matrix carries after the take; on a fault, also which
    // outputs changed, which one failed and which were not sent.
    void take()
    {
        MatrixUnit* unit = unit_;
        require(unit_->take(caller_, [reply = reply_, unit](const Outcome& outcome, const TakeOutcome& sent) {
            const auto letters = [](const std::vector<Route>& routes) {
                Json list = Json::array();
                for (const Route& r : routes)
                    list.push_back(std::string(1, static_cast<char>('A' + r.output - 1)));
                return list;
            };
            if (outcome.ok())
                return reply(jsonResponse(200, unit->routingJson()));
            Json body{{"error", outcome.text()},
                      {"changed", letters(sent.changed)},
                      {"failed", sent.failed ? letters({*sent.failed}) : Json::array()},
                      {"not_sent", letters(sent.notSent)},
                      {"routing", unit->routingJson()}};
            reply(jsonResponse(httpStatus(outcome.refusal), body));
        }));
    }

    void scheduleList()
    {
        Json list = Json::array();
        for (const Schedule& schedule : unit_->schedules())
            list.push_back(unit_->scheduleJson(schedule));
        reply(200, list);
    }

    void scheduleGet() { reply(200, unit_->scheduleJson(named(unit_->findSchedule(segments_[5]), "schedule"))); }

    void scheduleDelete()
    {
        require(unit_->deleteSchedule(caller_, segments_[5]));
        reply(200, {{"deleted", segments_[5]}});
    }

    void schedulePut()
    {
        const Json body = parseBody(request_);
        if (!body.contains("scene") || !body["scene"].is_string())
            throw Refused{errorResponse(400, "'scene' must be a scene's name")};
        if (!body.contains("at") || !body["at"].is_string())
            throw Refused{errorResponse(400, "'at' must be a time as \"HH:MM\"")};
        const Json& days = body.contains("days") ? body["days"] : Json();
        if (!days.is_array() || !std::all_of(days.begin(), days.end(), [](const Json& d) { return d.is_string(); }))
            throw Refused{errorResponse(400, "'days' must be a list such as [\"mon\",\"tue\"]")};
        require(unit_->putSchedule(caller_, segments_[5], body["scene"].get<std::string>(),
                                   body["at"].get<std::string>(), days.get<std::vector<std::string>>()));
        scheduleGet();
    }

    void beepGet() { reply(200, {{"on", unit_->toJson()["beep"]}}); }

    void beepPut()
    {
        const Json body = parseBody(request_);
        if (!body.contains("on") || !body["on"].is_boolean())
            throw Refused{errorResponse(400, "'on' must be true or false")};
        const bool on = body["on"].get<bool>();
        require(unit_->setBeep(caller_, on, answerWith([on] { return Json{{"on", on}}; })));
    }

    void factoryReset()
    {
        require(unit_->factoryReset(caller_, answerWith([] { return Json{{"status", "ok"}}; })));
    }

    void firmware()
    {
        if (request_.contentType != "application/octet-stream")
            throw Refused{errorResponse(400, "send the firmware file as application/octet-stream")};
        if (request_.body.empty())
            throw Refused{errorResponse(400, "empty firmware file")};
        const std::vector<std::uint8_t> bytes(request_.body.begin(), request_.body.end());
        // Answered once it started; how it ends reaches the event stream.
        require(unit_->upgradeFirmware(caller_, bytes, {}));
        reply(202, {{"status", "started"}, {"bytes", bytes.size()}});
    }

    Hub& hub_;
    const HttpRequest& request_;
    const std::vector<std::string>& segments_;
    Reply reply_;
    Caller caller_;
    MatrixUnit* unit_ = nullptr;
};

}  // namespace

void Api::handle(const HttpRequest& request, std::function<void(HttpResponse)> reply)
{
    try {
        Handler(hub_, request, reply).run();
    } catch (const Refused& refusal) {
        reply(refusal.response);
    } catch (const nlohmann::json::exception& error) {
        reply(errorResponse(400, error.what()));
    }
}

}  // namespace matrix::service
