// A container on the host's C callbacks. The container's state (outer size,
// borders, the children's frames, the enabled flag, the label's caption) is
// kept by a HeadlessSite inside, which also delivers the resize and
// after-box paint notifications as a window system would; this class adds
// the host's callbacks on every change and lets the host answer the message
// box, the yield and the label's measure.
#pragma once

#include "abi/kevra_tasklist.h"
#include "headless/headless_site.h"

namespace kevra::abi {

class CallbackSite : public ControlSite {
  public:
    CallbackSite(const kevra_site_callbacks& callbacks, void* user);

    // Measures the design caption, sites the control, then tells the host
    // the size and every child's frame once.
    void Site(ctlKevraTaskList& control);
    HeadlessSite& State() { return state_; }

    bool Enabled() const override { return state_.Enabled(); }
    void SetEnabled(bool enabled) override;
    double Width() const override { return state_.Width(); }
    double Height() const override { return state_.Height(); }
    void SetWidth(float twips) override;
    void SetHeight(float twips) override;
    double ScaleWidth() const override { return state_.ScaleWidth(); }
    double ScaleHeight() const override { return state_.ScaleHeight(); }
    ChildFrame Frame(Child child) const override;
    void SetVisible(Child child, bool visible) override;
    void Move(Child child, float left, float top) override;
    void SetLabelCaption(const std::string& caption) override;
    void RefreshLabel() override {}
    void SetMousePointer(int pointer) override;
    void DoEvents() override;
    int MsgBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
               const std::string& title) override;

    // Tells the host the outer size when it differs from what it was last
    // told (after a host resize, whose pass may settle on the same size).
    void ReportSize();

  private:
    void ReportChild(Child child);
    void Measure(const std::string& caption);

    kevra_site_callbacks callbacks_{};
    void* user_;
    HeadlessSite state_;
    double label_width_ = -1;  // the host's measure, or < 0 for the library's
    bool reporting_ = false;   // quiet while siting: the host hears the result once
    double told_width_ = -1, told_height_ = -1;
};

}  // namespace kevra::abi
