// A handle of a fetch as the window holds it (hInternet, hUrl), so that Cancel and closing the
// window can end the transfer under way.
#pragma once

class FetchHandle
{
public:
    virtual ~FetchHandle() = default;
    // Ends what the handle stands for at once; later calls do nothing. The object itself stays
    // valid: its owner sees isOpen() turn false and stops using it.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};
