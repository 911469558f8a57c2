#pragma once

#include <functional>

namespace VLK {

// How long to wait before each new try to reach a server that went away:
// 1, 2, 4 ... seconds, never more than a minute, each spread by up to a fifth
// either way so that many clients of one server do not all come back at the
// same moment. A success starts the sequence again from one second.
class ReconnectBackoff
{
public:
    // Returns a value in [-1, 1]; the spread of each delay is that fraction of
    // its fifth. Tests pass a fixed source to get the plain sequence.
    using JitterSource = std::function<double()>;

    static constexpr int FirstDelayMs = 1000;
    static constexpr int MaxDelayMs = 60000;
    static constexpr double JitterFraction = 0.2;

    ReconnectBackoff();
    explicit ReconnectBackoff(JitterSource jitter);

    // The delay before the next try; each call doubles the one after.
    int nextDelayMs();
    void reset();

private:
    JitterSource m_jitter;
    int m_baseDelayMs = FirstDelayMs;
};

} // namespace VLK
