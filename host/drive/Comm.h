// The host's communication with the active drive: which link and clock are in
// use, the last communication error, the reset of the drive, and unsolicited
// frames handed to a registered handler.
#pragma once

#include "DriveClock.h"
#include "DriveLink.h"

#include <functional>
#include <memory>
#include <string>

class CMC_Setup;

class CMC_Comm {
public:
    using UnsolicitedHandler = std::function<void(const UnsolicitedFrame& frame)>;

    // Makes a link the active drive, with the clock its requests are stamped
    // with. Null link: no drive (every request fails with NotConnected).
    static void SetActiveLink(std::shared_ptr<DriveLink> link, std::shared_ptr<DriveClock> clock);
    static DriveLink* ActiveLink();
    // The time stamp for the next request.
    static double Now();

    // Connects the setup's parameters and drive variables to the active link
    // (their ReadFromChip/WriteToChip) and downloads the setup's registers.
    static bool ConnectSetup(CMC_Setup& setup);

    // Why the last request failed; remembered by Record.
    static const char* GetLastErrorText();
    // Remembers the outcome of a request; true when it succeeded.
    static bool Record(LinkResult result);
    // Remembers a failure the link itself did not see; always false.
    static bool RecordFailure(const std::string& text);

    static bool ResetActiveBoard();

    // One handler at a time receives unsolicited frames; null removes it.
    // Returns the handler registered before, to be registered again later.
    static UnsolicitedHandler RegisterReceiveUnsolicitedMsgHandler(UnsolicitedHandler handler);
    // Hands the frames that arrived to the handler (or to the given one).
    static void CheckForUnrequestedMessages(const UnsolicitedHandler& handler = nullptr);
};
