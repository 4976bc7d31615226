// What every container of the control promises it, implemented once: the
// surface's outer and inner size and border allowances, the enabled flag,
// the children's frames and the label's caption, the pointer, and the
// delivery of the notifications the control is owed.
//
// The headless container (tests, kevra-host), the C library's container on
// a host's callbacks and the Qt container all build on this core and add
// only what is theirs: a record and output lines, the host's callbacks, Qt
// widgets. They do so through the protected hooks below, which run after
// the core has taken the change into its own state, so no container can
// leave the control reading a size or a frame it did not set.
//
// Delivery keeps the two promises of platform/control_site.h. The core
// counts the calls into the control on the stack (CallScope); while there
// is one, a resize, a repaint after a box or a paint the host asks for is
// owed rather than run nested inside the control's procedure. When the
// outermost call has returned, the owed notifications follow: resizes
// first, then one repaint for the boxes (it stands for the paints that came
// in meanwhile), then a plain paint. A control that keeps answering with
// another size change, or shows a box in every repaint after a box, is cut
// off after kMaxOwedChain notifications so that the host does not hang.
#pragma once

#include <string>

#include "platform/control_site.h"

namespace kevra {

class ctlKevraTaskList;

class ContainerCore : public ControlSite {
  public:
    // The surface as designed, in twips: the outer size a freshly sited
    // control has before its first layout pass.
    static constexpr double kDesignWidth = 11070;
    static constexpr double kDesignHeight = 5640;
    static constexpr int kMaxOwedChain = 64;

    ContainerCore() = default;
    ContainerCore(const ContainerCore&) = delete;
    ContainerCore& operator=(const ContainerCore&) = delete;

    // Sites the control: the children as designed, the label measured, the
    // outer size as designed, then the first resize notification.
    void Site(ctlKevraTaskList& control);
    ctlKevraTaskList* Control() const { return control_; }

    // The host's side of the surface.
    // The host sets the outer size: the border allowances set since the last
    // resize take effect, and a resize notification follows.
    void Resize(double width, double height);
    // Border allowances (outer minus inner size), used from the next resize.
    void SetBorders(double horizontal, double vertical);
    // A paint notification: now, or once the call on the stack has returned.
    void Paint();
    // The terminate notification, once. Nothing owed is delivered after it.
    void Terminate();
    bool Terminated() const { return terminated_; }

    // A call into the control from the host (a property, a method, a user
    // action) for as long as it lives. Leaving the outermost one delivers
    // what the control is owed.
    class CallScope {
      public:
        explicit CallScope(ContainerCore& core) : core_(core) { ++core_.depth_; }
        ~CallScope();
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;

      private:
        ContainerCore& core_;
    };
    int Depth() const { return depth_; }
    // Delivers what the control is owed, unless a call into it is on the
    // stack. Containers that do not wrap their calls in a CallScope (the
    // headless host runs one command at a time) call it when a command has
    // returned.
    void DeliverOwed();

    // Read by containers and their hosts.
    int MousePointer() const { return pointer_; }
    const std::string& LabelCaption() const { return label_caption_; }

    // The width of the label for a caption when nothing better measures it:
    // the average character of the label's design font, 2790/35 twips (the
    // design caption is 35 characters in its 2790-twip design width),
    // counted in characters, not bytes, and rounded up to whole pixels of
    // 15 twips.
    static double EstimatedLabelWidth(const std::string& caption);

    // ControlSite.
    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool enabled) final;
    double Width() const final { return width_; }
    double Height() const final { return height_; }
    void SetWidth(float twips) final;
    void SetHeight(float twips) final;
    double ScaleWidth() const final { return width_ - border_h_; }
    double ScaleHeight() const final { return height_ - border_v_; }
    ChildFrame Frame(Child child) const final { return frames_[Index(child)]; }
    void SetVisible(Child child, bool visible) final;
    void Move(Child child, float left, float top) final;
    void SetLabelCaption(const std::string& caption) final;
    void RefreshLabel() final { LabelRefreshed(); }
    void SetMousePointer(int pointer) final;
    void DoEvents() final { Yield(); }
    int MsgBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
               const std::string& title) final;

  protected:
    enum class Notification { resize, paint, box_repaint, terminate };

    // Hands one notification to the control. A container overrides it to
    // wrap the call (the Qt container logs what escapes); the core has
    // already counted it as a call on the stack.
    virtual void Notify(Notification notification);

    // What the container does beyond the core's bookkeeping, one hook for
    // each call the control makes of it.
    virtual void EnabledSet(bool /*enabled*/) {}
    virtual void WidthSet(float /*twips*/) {}
    virtual void HeightSet(float /*twips*/) {}
    virtual void VisibleSet(Child /*child*/, bool /*visible*/) {}
    virtual void Moved(Child /*child*/, float /*left*/, float /*top*/) {}
    // The caption is new (the core holds it); MeasureLabel follows, then
    // LabelMeasured.
    virtual void LabelCaptionSet(const std::string& /*caption*/) {}
    // Sizes the label's frame to its caption; by default to the estimate.
    virtual void MeasureLabel(const std::string& caption, ChildFrame& label);
    virtual void LabelMeasured() {}
    virtual void LabelRefreshed() {}
    virtual void PointerSet(int /*pointer*/) {}
    virtual void Yield() {}
    // Shows the box and returns the button pressed; by default OK (1) at
    // once. The repaint it is owed is accounted for already.
    virtual int ShowBox(const std::string& /*prompt*/, MsgBoxIcon /*icon*/,
                        MsgBoxButtons /*buttons*/, const std::string& /*title*/) {
        return 1;
    }
    // Siting has placed the children as designed; the first resize follows.
    virtual void Sited() {}
    // The owed notifications have been delivered and nothing more is owed.
    virtual void Settled() {}

    // For containers with a side of their own that changes the label or the
    // surface (a new screen): the frame to re-measure, and a resize to owe.
    ChildFrame& LabelFrame() { return frames_[Index(Child::lblStatus)]; }
    void OweResize();

  private:
    static size_t Index(Child child) { return static_cast<size_t>(child); }
    void Deliver(Notification notification);

    ctlKevraTaskList* control_ = nullptr;
    bool enabled_ = true;
    double width_ = 0, height_ = 0;
    double border_h_ = 0, border_v_ = 0;
    double pending_border_h_ = 0, pending_border_v_ = 0;
    ChildFrame frames_[kChildCount]{};
    std::string label_caption_;
    int pointer_ = 0;

    int depth_ = 0;
    bool resize_owed_ = false;
    bool paint_owed_ = false;
    int boxes_owed_ = 0;
    bool terminated_ = false;
};

}  // namespace kevra
