// SPDX-License-Identifier: Apache-2.0
#include "service/hub/MatrixUnit.h"

#include "core/formats/EdidModes.h"
#include "service/hub/EventJson.h"
#include "service/hub/Hub.h"
#include "service/hub/Log.h"
#include "service/hub/StateStore.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace matrix::service {

namespace {

constexpr int kPollTimerId = 1;

const Caller kScheduleCaller{"schedule", {}, 0, {}};

using Json = nlohmann::json;

template <typename T>
Json orNull(const std::optional<T>& value)
{
    return value ? Json(*value) : Json(nullptr);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<int> findName(std::string_view text, const std::array<std::string, client::kPortCount>& names)
{
    for (int i = 0; i < client::kPortCount; ++i)
        if (names[i] == text)
            return i + 1;
    for (int i = 0; i < client::kPortCount; ++i)
        if (equalsIgnoringCase(names[i], text))
            return i + 1;
    return std::nullopt;
}

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char cell[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", byte);
        text += cell;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

}  // namespace

MatrixUnit::MatrixUnit(Hub& hub, EventLoop& loop, const MatrixConfig& config,
                       std::unique_ptr<client::MatrixClient> client, StateStore* store, const WallClock& clock)
    : hub_(hub),
      loop_(loop),
      config_(config),
      client_(std::move(client)),
      store_(store),
      clock_(clock)
{
    inputNames_ = config_.inputs;
    outputNames_ = config_.outputs;
    Scheduler::Hooks hooks;
    hooks.linkUp = [this] { return client_->linkUp(); };
    hooks.recall = [this](const std::string& scene, std::function<void(bool, std::string)> done) {
        const Outcome started = recallScene(kScheduleCaller, scene, [done](const Outcome& outcome) {
            done(outcome.ok(), outcome.ok() ? std::string() : outcome.text());
        });
        if (!started.ok())
            done(false, started.text());
    };
    hooks.report = [this](const ScheduleRun& run) { runSchedule(run); };
    scheduler_ = std::make_unique<Scheduler>(loop_, clock_, config_.catchUpMinutes, std::move(hooks));
    loadState();
    client_->onChange = [this](const client::StateChange& change) { onClientChange(change); };
    client_->onStandby = [this] {
        logLine(id() + ": matrix is in standby");
        publish(StandbySeen{id()});
    };
    client_->onFirmwareProgress = [this](const client::FirmwareProgress& progress) {
        lastProgress_ = progress;
        publish(FirmwareProgress{id(), progress.done, progress.total, progress.line});
    };
    client_->onTraffic = [this](bool sent, const std::vector<std::uint8_t>& bytes) {
        if (verbose())
            logLine(id() + (sent ? ": > " : ": < ") + hex(bytes));
    };
}

MatrixUnit::~MatrixUnit()
{
    loop_.killTimer(this, kPollTimerId);
    if (client_) {
        client_->onChange = nullptr;
        client_->onStandby = nullptr;
        client_->onFirmwareProgress = nullptr;
        client_->onTraffic = nullptr;
        // No close() here: its LinkDown callbacks could reach front-ends that
        // are already gone. stop() closes cleanly; the client drops the rest.
    }
}

void MatrixUnit::start()
{
    if (started_)
        return;
    started_ = true;
    scheduler_->start();
    client_->open(config_.link, [this](client::Status status) {
        if (status != client::Status::Ok)
            logLine(id() + ": link not up yet (" + client::statusText(status) + "), retrying");
    });
    if (config_.pollSeconds > 0)
        loop_.startTimer(this, kPollTimerId, config_.pollSeconds * 1000, [this] { poll(); });
}

void MatrixUnit::stop()
{
    if (!started_)
        return;
    started_ = false;
    scheduler_->stop();
    loop_.killTimer(this, kPollTimerId);
    client_->close();
}

const std::string& MatrixUnit::id() const { return config_.id; }
const std::string& MatrixUnit::name() const { return config_.name; }
client::MatrixClient& MatrixUnit::client() { return *client_; }
const client::MatrixState& MatrixUnit::state() const { return client_->state(); }

void MatrixUnit::publish(HubEvent event) { hub_.publish(event); }

void MatrixUnit::onClientChange(const client::StateChange& change)
{
    const auto& s = state();
    const int n = change.index;
    using Kind = client::StateChange::Kind;
    switch (change.kind) {
    case Kind::Link:
        logLine(id() + ": link " + (s.linkUp ? "up" : "down"));
        ready_ = false;
        publish(LinkChanged{id(), s.linkUp});
        if (s.linkUp)
            onLinkUp();
        break;
    case Kind::Info:
        publish(InfoChanged{id(), s.info ? std::optional(s.info->model()) : std::nullopt,
                            s.info ? std::optional(s.info->version()) : std::nullopt});
        break;
    case Kind::Routing:
        if (n >= 1 && n <= client::kPortCount)
            publish(RoutingChanged{id(), n, s.routing[n - 1]});
        updateActiveScene();
        break;
    case Kind::InputCable:
    case Kind::OutputCable: {
        if (n < 1 || n > client::kPortCount)
            break;
        const bool input = change.kind == Kind::InputCable;
        publish(CableChanged{id(), input ? PortSide::Input : PortSide::Output, n,
                             input ? s.inputCable[n - 1] : s.outputCable[n - 1]});
        break;
    }
    case Kind::Beep: publish(BeepChanged{id(), s.beepOn}); break;
    case Kind::Edid:
        if (n >= 1 && n <= client::kPortCount && s.edidCode[n - 1])
            publish(EdidChanged{id(), n, *s.edidCode[n - 1],
                                edid::statusText(static_cast<std::int8_t>(*s.edidCode[n - 1]))});
        break;
    }
}

void MatrixUnit::onLinkUp()
{
    // Routing first: front-ends that show a whole dump (Videohub) wait for
    // MatrixReady, so that they never show the routing from before an outage.
    client_->readRouting([this](const client::Result<client::Routing>& result) {
        if (result.status == client::Status::LinkDown || !client_->linkUp() || ready_)
            return;
        ready_ = true;
        publish(MatrixReady{id()});
    });
    // The client reads info, routing, cables and beep again itself; the
    // EDID status is the service's own addition to what it shows.
    client_->readEdidStatus([](const auto&) {});
    // Queued behind the reads above, so a recall that waited starts from the routing as it is.
    scheduler_->linkUp();
}

void MatrixUnit::updateActiveScene()
{
    if (active_.update(scenes_, state().routing))
        publish(SceneActive{id(), active_.current()});
}

void MatrixUnit::poll()
{
    // Requests of users go first: a poll only fills an idle link.
    if (!client_->linkUp() || client_->firmwareRunning() || client_->queuedRequests() > 0)
        return;
    client_->refresh();
}

std::string MatrixUnit::inputName(int input) const
{
    return input >= 1 && input <= client::kPortCount ? inputNames_[input - 1] : std::string();
}

std::string MatrixUnit::outputName(int output) const
{
    return output >= 1 && output <= client::kPortCount ? outputNames_[output - 1] : std::string();
}

std::optional<int> MatrixUnit::findInput(std::string_view text) const
{
    if (const auto named = findName(text, inputNames_))
        return named;
    if (text.size() == 1 && text[0] >= '1' && text[0] < '1' + client::kPortCount)
        return text[0] - '0';
    return std::nullopt;
}

std::optional<int> MatrixUnit::findOutput(std::string_view text) const
{
    if (text.size() == 1) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        if (c >= '1' && c < '1' + client::kPortCount)
            return c - '0';
        if (c >= 'A' && c < 'A' + client::kPortCount)
            return c - 'A' + 1;
    }
    return findName(text, outputNames_);
}

bool MatrixUnit::firmwareRunning() const { return firmwareActive_ || client_->firmwareRunning(); }

Outcome MatrixUnit::readiness() const
{
    if (firmwareRunning())
        return Outcome::refused(Refusal::FirmwareRunning);
    if (!client_->linkUp())
        return Outcome::refused(Refusal::LinkDown);
    return Outcome::done();
}

Outcome MatrixUnit::permit(const Caller& caller, Operation operation)
{
    return allows(caller.role, operation) ? Outcome::done() : Outcome::refused(Refusal::NotAllowed);
}

namespace {

// "B" for output 2: what the page and the panel call it.
std::string outputLetter(int output) { return std::string(1, static_cast<char>('A' + output - 1)); }

std::string targetText(int target) { return target == 0 ? "all inputs" : "input " + std::to_string(target); }

// Who asked, as the log says it: the token (or "loopback") for HTTP, else the
// front-end; then the peer. All of it came from a client, so it is escaped.
std::string who(const Caller& caller)
{
    std::string text = caller.tokenName.empty()
                           ? escapeForLog(caller.frontEnd)
                           : escapeForLog(caller.tokenName) + " (" + escapeForLog(caller.frontEnd) + ")";
    if (!caller.peer.empty())
        text += " from " + escapeForLog(caller.peer);
    return text;
}

std::string quoted(const std::string& name) { return "'" + escapeForLog(name) + "'"; }

}  // namespace

void MatrixUnit::audit(const Caller& caller, const std::string& what) const
{
    logLine(id() + ": " + what + " by " + who(caller));
}

bool MatrixUnit::lockedFor(const Caller& caller, int output) const
{
    const LockOwner owner = lockOwner(output);
    return owner != 0 && owner != caller.lockOwner;
}

Outcome MatrixUnit::route(const Caller& caller, int output, int input, Done done)
{
    return routeSteps(caller, {{output, input}}, std::move(done));
}

Outcome MatrixUnit::routeSteps(const Caller& caller, std::vector<Route> steps, Done done,
                               std::function<void(int output, const Outcome&)> each)
{
    if (Outcome allowed = permit(caller, Operation::Route); !allowed.ok())
        return allowed;
    std::string what = "route";
    for (const Route& r : steps)
        if (r.output >= 1 && r.output <= client::kPortCount)
            what += " " + outputLetter(r.output) + "<-" + std::to_string(r.input);
    Outcome outcome = startSteps(caller, std::move(steps), std::move(done), std::move(each));
    if (outcome.ok())
        audit(caller, what);
    return outcome;
}

Outcome MatrixUnit::startSteps(const Caller& caller, std::vector<Route> steps, Done done,
                               std::function<void(int output, const Outcome&)> each)
{
    for (const Route& r : steps) {
        if (r.output < 1 || r.output > client::kPortCount || r.input < 1 || r.input > client::kPortCount)
            return Outcome::refused(Refusal::NotFound, "no such port");
        if (lockedFor(caller, r.output))
            return Outcome::refused(Refusal::Locked);
    }
    if (Outcome ready = readiness(); !ready.ok())
        return ready;
    step(caller, std::make_shared<std::vector<Route>>(std::move(steps)), 0, std::move(done), std::move(each));
    return Outcome::done();
}

void MatrixUnit::step(const Caller& caller, std::shared_ptr<std::vector<Route>> steps, std::size_t next, Done done,
                      std::function<void(int output, const Outcome&)> each)
{
    if (next >= steps->size()) {
        if (done)
            done(Outcome::done());
        return;
    }
    const Route r = (*steps)[next];
    // A lock taken while the earlier steps ran holds too.
    if (lockedFor(caller, r.output)) {
        const Outcome locked = Outcome::refused(Refusal::Locked);
        for (std::size_t i = next; each && i < steps->size(); ++i)
            each((*steps)[i].output, locked);
        if (done)
            done(locked);
        return;
    }
    client_->route(Output{r.output}, Input{r.input},
                   [this, caller, steps, next, done = std::move(done),
                    each = std::move(each)](const client::Result<client::Nothing>& result) mutable {
                       const Outcome outcome = outcomeOf(result.status, result.message);
                       if (!outcome.ok()) {
                           for (std::size_t i = next; each && i < steps->size(); ++i)
                               each((*steps)[i].output, outcome);
                           if (done)
                               done(outcome);
                           return;
                       }
                       if (each)
                           each((*steps)[next].output, outcome);
                       step(caller, steps, next + 1, std::move(done), std::move(each));
                   });
}

Outcome MatrixUnit::recallScene(const Caller& caller, const std::string& name, Done done)
{
    if (Outcome allowed = permit(caller, Operation::Recall); !allowed.ok())
        return allowed;
    const auto routing = scene(name);
    if (!routing)
        return Outcome::refused(Refusal::NotFound, "unknown scene '" + name + "'");
    std::vector<Route> steps;
    for (int output = 1; output <= client::kPortCount; ++output)
        if ((*routing)[output - 1] != 0)
            steps.push_back({output, (*routing)[output - 1]});
    // Front-ends that name the scene (the text protocol) hear of it once the last route is through.
    Outcome outcome = startSteps(caller, std::move(steps),
                                 [this, name, done = std::move(done)](const Outcome& ended) {
                                     if (ended.ok())
                                         publish(SceneRecalled{id(), name});
                                     if (done)
                                         done(ended);
                                 },
                                 {});
    if (outcome.ok()) {
        audit(caller, "recall scene " + quoted(name));
        // Recalled last, it wins a tie even when the routing already was this scene.
        active_.touched(name);
        updateActiveScene();
    }
    return outcome;
}

namespace {

// A client completion that reports an Outcome.
template <typename T>
std::function<void(const client::Result<T>&)> reporting(MatrixUnit::Done done)
{
    return [done = std::move(done)](const client::Result<T>& result) {
        if (done)
            done(outcomeOf(result.status, result.message));
    };
}

}  // namespace

Outcome MatrixUnit::routeAll(const Caller& caller, int input, Done done)
{
    if (Outcome allowed = permit(caller, Operation::Route); !allowed.ok())
        return allowed;
    if (input < 1 || input > client::kPortCount)
        return Outcome::refused(Refusal::NotFound, "no such port");
    for (int output = 1; output <= client::kPortCount; ++output)
        if (lockedFor(caller, output))
            return Outcome::refused(Refusal::Locked);
    if (Outcome ready = readiness(); !ready.ok())
        return ready;
    std::string what = "route";
    for (int output = 1; output <= client::kPortCount; ++output)
        what += " " + outputLetter(output) + "<-" + std::to_string(input);
    audit(caller, what);
    client_->routeAll(Input{input}, reporting<client::Nothing>(std::move(done)));
    return Outcome::done();
}

Outcome MatrixUnit::setBeep(const Caller& caller, bool on, Done done)
{
    if (Outcome allowed = permit(caller, Operation::Beep); !allowed.ok())
        return allowed;
    if (Outcome ready = readiness(); !ready.ok())
        return ready;
    audit(caller, on ? "beep on" : "beep off");
    client_->setSetting(client::Setting::Beep, on, reporting<client::Nothing>(std::move(done)));
    return Outcome::done();
}

Outcome MatrixUnit::factoryReset(const Caller& caller, Done done)
{
    if (Outcome allowed = permit(caller, Operation::FactoryReset); !allowed.ok())
        return allowed;
    if (Outcome ready = readiness(); !ready.ok())
        return ready;
    audit(caller, "factory reset");
    client_->factoryReset(reporting<client::Nothing>(std::move(done)));
    return Outcome::done();
}

MatrixUnit::Done MatrixUnit::edidDone(Done done)
{
    return [this, done = std::move(done)](const Outcome& outcome) {
        if (!outcome.ok()) {
            if (done)
                done(outcome);
            return;
        }
        client_->readEdidStatus([done](const client::Result<client::EdidCodes>&) {
            if (done)
                done(Outcome::done());
        });
    };
}

Outcome MatrixUnit::setEdidMode(const Caller& caller, int modeRow, int target, Done done)
{
    if (Outcome allowed = permit(caller, Operation::Edid); !allowed.ok())
        return allowed;
    if (Outcome ready = readiness(); !ready.ok())
        return ready;
    audit(caller, "EDID mode " + std::to_string(modeRow) + " for " + targetText(target));
    client_->setEdidMode(modeRow, Input{target}, reporting<client::Nothing>(edidDone(std::move(done))));
    return Outcome::done();
}

Outcome MatrixUnit::copyEdid(const Caller& caller, int fromOutput, int target, Done done)
{
    if (Outcome allowed = permit(caller, Operation::Edid); !allowed.ok())
        return allowed;
    if (Outcome ready = readiness(); !ready.ok())
        return ready;
    audit(caller, "EDID of output " + outputLetter(fromOutput) + " for " + targetText(target));
    client_->copyEdid(Output{fromOutput}, Input{target}, reporting<client::Nothing>(edidDone(std::move(done))));
    return Outcome::done();
}

Outcome MatrixUnit::uploadEdid(const Caller& caller, const std::vector<std::uint8_t>& file, int target, Done done)
{
    if (Outcome allowed = permit(caller, Operation::Edid); !allowed.ok())
        return allowed;
    if (Outcome ready = readiness(); !ready.ok())
        return ready;
    audit(caller, "EDID file (" + std::to_string(file.size()) + " bytes) for " + targetText(target));
    client_->uploadEdid(file, Input{target}, reporting<client::Nothing>(edidDone(std::move(done))));
    return Outcome::done();
}

Outcome MatrixUnit::upgradeFirmware(const Caller& caller, const std::vector<std::uint8_t>& container, Done done)
{
    if (Outcome allowed = permit(caller, Operation::Firmware); !allowed.ok())
        return allowed;
    if (Outcome ready = readiness(); !ready.ok())
        return ready;
    audit(caller, "firmware upgrade (" + std::to_string(container.size()) + " bytes)");
    // Until the client ends it, a second upload is refused.
    firmwareActive_ = true;
    lastProgress_ = {};
    client_->upgradeFirmware(container, [this, done = std::move(done)](const client::Result<client::Nothing>& result) {
        firmwareActive_ = false;
        const Outcome outcome = outcomeOf(result.status, result.message);
        publish(FirmwareFinished{id(), outcome.ok(), outcome.ok() ? std::string() : outcome.text(), lastProgress_.done,
                                 lastProgress_.total});
        if (done)
            done(outcome);
    });
    return Outcome::done();
}

Outcome MatrixUnit::rename(const Caller& caller, PortSide side, const std::vector<Rename>& renames)
{
    if (Outcome allowed = permit(caller, Operation::Rename); !allowed.ok())
        return allowed;
    const bool input = side == PortSide::Input;
    PortNames& names = input ? inputNames_ : outputNames_;
    if (Outcome checked = checkRenames(names, renames, input ? "input" : "output"); !checked.ok())
        return checked;
    const PortNames before = names;
    for (const auto& [port, name] : renames)
        names[port - 1] = name;
    if (names == before)
        return Outcome::done();
    // A name the state file does not hold would be lost at the next start.
    if (!persist()) {
        names = before;
        return Outcome::refused(Refusal::StorageFailed);
    }
    for (const auto& [port, name] : renames)
        audit(caller, std::string("rename ") +
                          (input ? "input " + std::to_string(port) : "output " + outputLetter(port)) + " to " +
                          quoted(name));
    publish(NamesChanged{id(), inputNames_, outputNames_});
    return Outcome::done();
}

LockOwner MatrixUnit::lockOwner(int output) const
{
    return output >= 1 && output <= client::kPortCount ? locks_[output - 1] : 0;
}

Outcome MatrixUnit::lock(const Caller& caller, int output, LockAction action)
{
    if (Outcome allowed = permit(caller, Operation::Locks); !allowed.ok())
        return allowed;
    if (output < 1 || output > client::kPortCount)
        return Outcome::refused(Refusal::NotFound, "no such output");
    const LockOwner owner = locks_[output - 1];
    if (action != LockAction::Force && owner != 0 && owner != caller.lockOwner)
        return Outcome::refused(Refusal::Locked);
    const LockOwner next = action == LockAction::Take ? caller.lockOwner : 0;
    if (next != owner) {
        const char* verb = action == LockAction::Take      ? "lock"
                           : action == LockAction::Release ? "unlock"
                                                           : "force unlock";
        audit(caller, std::string(verb) + " output " + outputLetter(output));
        setLock(output, next);
    }
    return Outcome::done();
}

void MatrixUnit::setLock(int output, LockOwner owner)
{
    if (output < 1 || output > client::kPortCount || locks_[output - 1] == owner)
        return;
    locks_[output - 1] = owner;
    publish(LockChanged{id(), output, owner});
}

void MatrixUnit::releaseLocks(LockOwner owner)
{
    if (owner == 0)
        return;
    for (int output = 1; output <= client::kPortCount; ++output)
        if (locks_[output - 1] == owner)
            setLock(output, 0);
}

std::vector<std::string> MatrixUnit::sceneNames() const
{
    std::vector<std::string> names;
    for (const auto& [name, routing] : scenes_)
        names.push_back(name);
    return names;
}

std::optional<SceneRouting> MatrixUnit::scene(const std::string& name) const
{
    const auto it = scenes_.find(name);
    return it == scenes_.end() ? std::nullopt : std::optional<SceneRouting>(it->second);
}

Outcome MatrixUnit::saveScene(const Caller& caller, const std::string& name, const SceneRouting& routing)
{
    if (Outcome allowed = permit(caller, Operation::SceneSave); !allowed.ok())
        return allowed;
    if (const std::string problem = nameProblem(name); !problem.empty())
        return Outcome::refused(Refusal::BadInput, problem);
    for (int input : routing)
        if (input < 0 || input > client::kPortCount)
            return Outcome::refused(Refusal::NotFound, "no such input");
    if (scenes_.size() >= kMaxScenes && scenes_.count(name) == 0)
        return Outcome::refused(Refusal::LimitReached,
                                "a matrix keeps at most " + std::to_string(kMaxScenes) + " scenes; delete one first");
    const auto previous = scene(name);
    scenes_[name] = routing;
    return keepSceneChange(caller, name, previous);
}

Outcome MatrixUnit::deleteScene(const Caller& caller, const std::string& name)
{
    if (Outcome allowed = permit(caller, Operation::SceneDelete); !allowed.ok())
        return allowed;
    const auto it = scenes_.find(name);
    if (it == scenes_.end())
        return Outcome::refused(Refusal::NotFound, "unknown scene '" + name + "'");
    if (const auto users = scheduler_->naming(name); !users.empty()) {
        std::string list;
        for (const auto& user : users)
            list += (list.empty() ? "'" : ", '") + user + "'";
        return Outcome::refused(Refusal::InUse, "scene '" + name + "' is recalled by schedule " + list);
    }
    const SceneRouting previous = it->second;
    scenes_.erase(it);
    return keepSceneChange(caller, name, previous);
}

// A saved or deleted scene stands once the state file holds it; otherwise
// the scene as it was comes back and the change is refused.
Outcome MatrixUnit::keepSceneChange(const Caller& caller, const std::string& name,
                                    const std::optional<SceneRouting>& previous)
{
    const bool deleted = !scenes_.contains(name);
    if (!persist()) {
        if (previous)
            scenes_[name] = *previous;
        else
            scenes_.erase(name);
        return Outcome::refused(Refusal::StorageFailed);
    }
    audit(caller, (deleted ? "delete scene " : "save scene ") + quoted(name));
    publish(ScenesChanged{id(), sceneNames()});
    if (deleted)
        active_.forget(name);
    else
        active_.touched(name);
    updateActiveScene();
    return Outcome::done();
}

Outcome MatrixUnit::stage(const Caller& caller, const std::vector<Route>& routes)
{
    if (Outcome allowed = permit(caller, Operation::PendingTake); !allowed.ok())
        return allowed;
    for (const Route& r : routes) {
        if (r.output < 1 || r.output > client::kPortCount || r.input < 1 || r.input > client::kPortCount)
            return Outcome::refused(Refusal::NotFound, "no such port");
        if (lockedFor(caller, r.output))
            return Outcome::refused(Refusal::Locked);
    }
    const std::map<int, int> before = pending_.staged();
    pending_.merge(routes);
    if (pending_.staged() != before) {
        std::string what = "stage";
        for (const Route& r : routes)
            what += " " + outputLetter(r.output) + "<-" + std::to_string(r.input);
        audit(caller, what);
        publishPending();
    }
    return Outcome::done();
}

Outcome MatrixUnit::clearPending(const Caller& caller)
{
    if (Outcome allowed = permit(caller, Operation::PendingTake); !allowed.ok())
        return allowed;
    if (pending_.empty())
        return Outcome::done();
    pending_.clear();
    audit(caller, "clear the staged routes");
    publishPending();
    return Outcome::done();
}

void MatrixUnit::publishPending() { publish(PendingChanged{id(), pending_.staged()}); }

Outcome MatrixUnit::take(const Caller& caller, TakeDone done)
{
    if (Outcome allowed = permit(caller, Operation::PendingTake); !allowed.ok())
        return allowed;
    const std::vector<Route> plan = pending_.takePlan();
    for (const Route& r : plan)
        if (lockedFor(caller, r.output))
            return Outcome::refused(Refusal::Locked);
    if (plan.empty()) {
        // Nothing staged: the take button of a panel does nothing either.
        if (done)
            done(Outcome::done(), {});
        return Outcome::done();
    }
    if (Outcome ready = readiness(); !ready.ok())
        return ready;
    std::vector<std::pair<Output, Input>> series;
    for (const Route& r : plan)
        series.emplace_back(Output{r.output}, Input{r.input});
    auto result = std::make_shared<TakeOutcome>();
    audit(caller, "take " + std::to_string(plan.size()) + " staged route" + (plan.size() == 1 ? "" : "s"));
    client_->routeSeries(
        std::move(series),
        [this, plan, result, done = std::move(done)](const client::Result<client::Nothing>& sent) {
            result->status = sent.status;
            if (!sent.ok() && result->changed.size() < plan.size()) {
                result->failed = plan[result->changed.size()];
                result->notSent.assign(plan.begin() + static_cast<std::ptrdiff_t>(result->changed.size()) + 1,
                                       plan.end());
            }
            const std::map<int, int> before = pending_.staged();
            for (const Route& r : result->changed)
                pending_.unstage(r);
            if (pending_.staged() != before)
                publishPending();
            if (done)
                done(outcomeOf(sent.status, sent.message), *result);
        },
        [plan, result](Output output) {
            for (const Route& r : plan)
                if (r.output == output.number())
                    result->changed.push_back(r);
        });
    return Outcome::done();
}

Outcome MatrixUnit::putSchedule(const Caller& caller, const std::string& name, const std::string& scene,
                                const std::string& at, const std::vector<std::string>& days)
{
    if (Outcome allowed = permit(caller, Operation::Schedules); !allowed.ok())
        return allowed;
    ScheduleCheck checked = makeSchedule(name, scene, at, days);
    if (!checked.schedule)
        return Outcome::refused(Refusal::BadInput, checked.error);
    if (!scenes_.contains(scene))
        return Outcome::refused(Refusal::BadInput, "unknown scene '" + scene + "'");
    const auto previous = scheduler_->find(name);
    if (const auto full = scheduler_->put(*checked.schedule))
        return Outcome::refused(Refusal::LimitReached, *full);
    if (!persist()) {
        if (previous)
            scheduler_->put(*previous);
        else
            scheduler_->remove(name);
        return Outcome::refused(Refusal::StorageFailed);
    }
    audit(caller,
          "schedule " + quoted(name) + ": scene " + quoted(scene) + " at " + atText(checked.schedule->atMinute));
    publish(SchedulesChanged{id(), scheduleNames()});
    return Outcome::done();
}

Outcome MatrixUnit::deleteSchedule(const Caller& caller, const std::string& name)
{
    if (Outcome allowed = permit(caller, Operation::Schedules); !allowed.ok())
        return allowed;
    const auto previous = scheduler_->find(name);
    if (!previous)
        return Outcome::refused(Refusal::NotFound, "unknown schedule '" + name + "'");
    scheduler_->remove(name);
    if (!persist()) {
        scheduler_->put(*previous);
        return Outcome::refused(Refusal::StorageFailed);
    }
    audit(caller, "delete schedule " + quoted(name));
    publish(SchedulesChanged{id(), scheduleNames()});
    return Outcome::done();
}

std::vector<std::string> MatrixUnit::scheduleNames() const
{
    std::vector<std::string> names;
    for (const Schedule& schedule : scheduler_->schedules())
        names.push_back(schedule.name);
    return names;
}

Json MatrixUnit::scheduleJson(const Schedule& schedule) const
{
    return {{"name", schedule.name},
            {"scene", schedule.scene},
            {"at", atText(schedule.atMinute)},
            {"days", dayNames(schedule.days)},
            {"next_run", orNull(scheduler_->nextRunText(schedule.name))}};
}

void MatrixUnit::runSchedule(const ScheduleRun& run)
{
    const char* result = scheduleResultText(run.result);
    logLine(id() + ": schedule '" + run.name + "' (scene '" + run.scene + "', due " +
            isoLocalTime(clock_, run.dueUnixSeconds) + "): " + result + (run.detail.empty() ? "" : ": " + run.detail));
    publish(ScheduleRan{id(), run.name, run.scene, result});
}

void MatrixUnit::loadState()
{
    if (!store_)
        return;
    const Json& section = store_->matrix(id());
    auto loadNames = [&](const char* key, std::array<std::string, client::kPortCount>& names) {
        const auto it = section.find(key);
        if (it == section.end() || !it->is_array() || it->size() != client::kPortCount)
            return;
        for (int i = 0; i < client::kPortCount; ++i)
            // A name the rule refuses (kept before the rule was) falls back to the configured one.
            if ((*it)[i].is_string() && nameProblem((*it)[i].get<std::string>()).empty())
                names[i] = (*it)[i].get<std::string>();
    };
    loadNames("inputs", inputNames_);
    loadNames("outputs", outputNames_);
    const auto found = section.find("scenes");
    const Json scenes = found != section.end() && found->is_object() ? *found : Json::object();
    for (const auto& [name, value] : scenes.items()) {
        if (!value.is_array() || value.size() != client::kPortCount)
            continue;
        SceneRouting routing{};
        bool valid = true;
        for (int i = 0; i < client::kPortCount; ++i) {
            valid = valid && value[i].is_number_integer() && value[i].get<int>() >= 0 &&
                    value[i].get<int>() <= client::kPortCount;
            if (valid)
                routing[i] = value[i].get<int>();
        }
        if (valid)
            scenes_[name] = routing;
    }
    std::vector<std::string> problems;
    for (const Schedule& schedule : store_->schedules(id(), &problems))
        if (const auto full = scheduler_->put(schedule))
            problems.push_back(store_->path() + ": matrix " + id() + ": schedule '" + schedule.name +
                               "' left out: " + *full);
    for (const auto& problem : problems)
        logLine(problem);
}

bool MatrixUnit::persist()
{
    if (!store_)
        return true;
    Json& section = store_->matrix(id());
    if (inputNames_ != config_.inputs)
        section["inputs"] = inputNames_;
    else
        section.erase("inputs");
    if (outputNames_ != config_.outputs)
        section["outputs"] = outputNames_;
    else
        section.erase("outputs");
    Json scenes = Json::object();
    for (const auto& [name, routing] : scenes_)
        scenes[name] = routing;
    section["scenes"] = std::move(scenes);
    store_->setSchedules(id(), scheduler_->schedules());
    std::string error;
    if (!store_->save(&error)) {
        logLine(id() + ": " + error);
        return false;
    }
    return true;
}

Json MatrixUnit::outputJson(int output) const
{
    const auto& s = state();
    return {{"number", output},
            {"letter", std::string(1, static_cast<char>('A' + output - 1))},
            {"name", outputName(output)},
            {"cable", orNull(s.outputCable[output - 1])},
            {"input", orNull(s.routing[output - 1])},
            {"locked", locks_[output - 1] != 0}};
}

Json MatrixUnit::routingJson() const
{
    Json routing = Json::object();
    for (int output = 1; output <= client::kPortCount; ++output)
        routing[std::string(1, static_cast<char>('A' + output - 1))] = orNull(state().routing[output - 1]);
    return routing;
}

Json MatrixUnit::summaryJson() const
{
    return {{"id", id()}, {"name", name()}, {"link", state().linkUp ? "up" : "down"}};
}

Json MatrixUnit::toJson() const
{
    const auto& s = state();
    Json result = summaryJson();
    result["model"] = s.info ? Json(s.info->model()) : Json(nullptr);
    result["version"] = s.info ? Json(s.info->version()) : Json(nullptr);
    result["beep"] = orNull(s.beepOn);
    result["firmware_running"] = firmwareRunning();
    Json inputs = Json::array();
    Json outputs = Json::array();
    Json edidRows = Json::array();
    for (int n = 1; n <= client::kPortCount; ++n) {
        inputs.push_back({{"number", n}, {"name", inputName(n)}, {"cable", orNull(s.inputCable[n - 1])}});
        outputs.push_back(outputJson(n));
        const auto code = s.edidCode[n - 1];
        edidRows.push_back({{"input", n},
                            {"code", orNull(code)},
                            {"text", code ? Json(edid::statusText(static_cast<std::int8_t>(*code))) : Json(nullptr)}});
    }
    result["inputs"] = std::move(inputs);
    result["outputs"] = std::move(outputs);
    result["edid"] = std::move(edidRows);
    result["scenes"] = sceneNames();
    result["active_scene"] = orNull(active_.current());
    result["pending"] = pendingJson(pending_.staged());
    return result;
}

}  // namespace matrix::service
