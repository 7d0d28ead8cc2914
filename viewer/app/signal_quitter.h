#pragma once

#include <csignal>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

class QSocketNotifier;

// Ends the Qt event loop with status 0 when one of the given signals arrives. The handler only
// writes one byte to a socket pair; the event loop reads it and quits, so the shutdown itself
// runs on the GUI thread. One instance at a time; create it after the application object.
class SignalQuitter {
public:
    explicit SignalQuitter(std::initializer_list<int> signalNumbers);
    // Puts the previous handlers back.
    ~SignalQuitter();
    SignalQuitter(const SignalQuitter&) = delete;
    SignalQuitter& operator=(const SignalQuitter&) = delete;

private:
    static void handleSignal(int signalNumber);
    void onReadable();

    int _readFd = -1;
    int _writeFd = -1;
    std::unique_ptr<QSocketNotifier> _notifier;
    std::vector<std::pair<int, struct sigaction>> _previous;
};
