#pragma once
#include <string>

namespace quellon {

// The progress dialog as the exchange and its users see it: one bar with a caption.
class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetMaximum(int maximum) = 0;
    virtual void SetPosition(int position) = 0;
    virtual void StepIt() = 0;
    virtual void ShowProgress() = 0;
    virtual void CloseProgress() = 0;
    // An operation that can stop safely between two steps offers Cancel while it runs and
    // asks after each step whether the user took it. Without the offer the box cannot be
    // dismissed until the operation closes it.
    virtual void OfferCancel(bool /*offered*/) {}
    virtual bool CancelRequested() const { return false; }
};

} // namespace quellon
