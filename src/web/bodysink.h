// Where a transfer puts the body it receives when the body is not to be held in memory: a file
// written on the transfer thread while the window's thread goes on with its own work.
#pragma once

#include <cstddef>

class BodySink
{
public:
    virtual ~BodySink() = default;
    // Called on the transfer thread with each piece of the body, in order. False ends the
    // transfer at once; the sink keeps why, for its owner to tell at the entry's turn.
    virtual bool write(const char* bytes, std::size_t size) = 0;
    // Called on the transfer thread when the transfer has ended, however it ended: nothing more
    // is written, and whatever the body holds open may be let go (a run holds thousands ahead).
    virtual void end() { }
    // Called on the window's thread when the body is not wanted (closed, refused, skipped, or
    // never taken): whatever was written is removed before the call returns, and every later
    // write is refused. Does nothing to a body already put in its place.
    virtual void discard() = 0;
};
