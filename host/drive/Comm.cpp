#include "Comm.h"

#include <cmath>

#include "ChipLink.h"
#include "Setup.h"

#include <utility>

namespace {

struct CommState {
    std::shared_ptr<DriveLink> link;
    std::shared_ptr<DriveClock> clock;
    std::string lastError;
    CMC_Comm::UnsolicitedHandler handler;
};

CommState& State()
{
    static CommState state;
    return state;
}

// The setup's view of the active drive: every access goes to whatever link is
// active at the time of the access, stamped with the host's clock.
class CommChipLink final : public CMC_ChipLink {
public:
    bool ReadVariable(const std::string& name, double& internalValue) override
    {
        DriveLink* link = CMC_Comm::ActiveLink();
        if (link == nullptr)
            return CMC_Comm::Record(LinkResult::NotConnected);
        if (!CMC_Comm::Record(link->ReadVariable(CMC_Comm::Now(), name, internalValue)))
            return false;
        if (!std::isfinite(internalValue))
            return CMC_Comm::RecordFailure("The drive sent a value of \"" + name +
                                           "\" that is not a finite number.");
        return true;
    }
    bool WriteVariable(const std::string& name, double internalValue) override
    {
        DriveLink* link = CMC_Comm::ActiveLink();
        if (link == nullptr)
            return CMC_Comm::Record(LinkResult::NotConnected);
        return CMC_Comm::Record(link->WriteVariable(CMC_Comm::Now(), name, internalValue));
    }
    bool WriteParameter(const std::string& name, double internalValue) override
    {
        DriveLink* link = CMC_Comm::ActiveLink();
        if (link == nullptr)
            return CMC_Comm::Record(LinkResult::NotConnected);
        return CMC_Comm::Record(link->WriteParameter(CMC_Comm::Now(), name, internalValue));
    }
    std::string LastError() const override { return CMC_Comm::GetLastErrorText(); }
};

} // namespace

const char* LinkResultText(LinkResult result)
{
    switch (result) {
    case LinkResult::Ok:
        return "No error.";
    case LinkResult::NotConnected:
        return "The drive is not connected.";
    case LinkResult::NoAnswer:
        return "The drive does not answer.";
    case LinkResult::NoSuchProgram:
        return "The drive has no such program.";
    case LinkResult::NoSuchVariable:
        return "The drive does not know this variable.";
    case LinkResult::Refused:
        return "The drive refused the request.";
    }
    return "Unknown communication error.";
}

void CMC_Comm::SetActiveLink(std::shared_ptr<DriveLink> link, std::shared_ptr<DriveClock> clock)
{
    CommState& state = State();
    state.link = std::move(link);
    state.clock = clock ? std::move(clock) : std::make_shared<WallClock>();
    state.lastError.clear();
}

DriveLink* CMC_Comm::ActiveLink()
{
    return State().link.get();
}

double CMC_Comm::Now()
{
    CommState& state = State();
    return state.clock ? state.clock->Now() : 0.0;
}

bool CMC_Comm::ConnectSetup(CMC_Setup& setup)
{
    setup.SetChipLink(std::make_shared<CommChipLink>());
    DriveLink* link = ActiveLink();
    if (link == nullptr)
        return Record(LinkResult::NotConnected);
    return Record(link->DownloadSetup(Now(), setup));
}

const char* CMC_Comm::GetLastErrorText()
{
    return State().lastError.c_str();
}

bool CMC_Comm::Record(LinkResult result)
{
    if (result == LinkResult::Ok)
        return true;
    DriveLink* link = ActiveLink();
    std::string text = link != nullptr ? link->LastError() : std::string();
    State().lastError = text.empty() ? LinkResultText(result) : std::move(text);
    return false;
}

bool CMC_Comm::RecordFailure(const std::string& text)
{
    State().lastError = text;
    return false;
}

bool CMC_Comm::ResetActiveBoard()
{
    DriveLink* link = ActiveLink();
    if (link == nullptr)
        return Record(LinkResult::NotConnected);
    return Record(link->Reset(Now()));
}

CMC_Comm::UnsolicitedHandler CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(UnsolicitedHandler handler)
{
    return std::exchange(State().handler, std::move(handler));
}

void CMC_Comm::CheckForUnrequestedMessages(const UnsolicitedHandler& handler)
{
    DriveLink* link = ActiveLink();
    if (link == nullptr)
        return;
    // A copy: the handler may register another one while it runs.
    const UnsolicitedHandler target = handler ? handler : State().handler;
    for (const UnsolicitedFrame& frame : link->TakeUnsolicitedFrames(Now()))
        if (target)
            target(frame);
}
