// A container on the host's C callbacks: the container core, which keeps
// the container's state (outer size, borders, the children's frames, the
// enabled flag, the label's caption) and delivers the resize and after-box
// paint notifications as a window system would, plus the host's callbacks
// on every change. The host answers the message box and the yield, and may
// measure the label. Nothing the control does is recorded or formatted
// here: a host that keeps a control for days keeps the heap it started
// with.
#pragma once

#include "abi/kevra_tasklist.h"
#include "container/container_core.h"

namespace kevra::abi {

class CallbackSite : public ContainerCore {
  public:
    CallbackSite(const kevra_site_callbacks& callbacks, void* user);

    // Sites the control, then tells the host the size and every child's
    // frame once: the host hears the result of the first layout, not its
    // steps.
    void Site(ctlKevraTaskList& control);

  protected:
    void EnabledSet(bool enabled) override;
    void WidthSet(float) override { ReportSize(); }
    void HeightSet(float) override { ReportSize(); }
    void VisibleSet(Child child, bool) override { ReportChild(child); }
    void Moved(Child child, float, float) override { ReportChild(child); }
    void MeasureLabel(const std::string& caption, ChildFrame& label) override;
    void LabelMeasured() override { ReportChild(Child::lblStatus); }
    void PointerSet(int pointer) override;
    void Yield() override;
    int ShowBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                const std::string& title) override;
    // A host resize whose layout pass settles on the size the host was
    // last told sets nothing; the host still learns that its size did not
    // stick.
    void Settled() override { ReportSize(); }

  private:
    // Tells the host the outer size when it differs from what it was last
    // told.
    void ReportSize();
    void ReportChild(Child child);

    kevra_site_callbacks callbacks_{};
    void* user_;
    bool reporting_ = false;  // quiet while siting: the host hears the result once
    double told_width_ = -1, told_height_ = -1;
};

}  // namespace kevra::abi
