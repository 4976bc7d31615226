// The container core: the state every container keeps for the control and
// the delivery of the notifications it is owed.
#include "container/container_core.h"

#include <cmath>

#include "control/ctlKevraTaskList.h"

namespace kevra {

double ContainerCore::EstimatedLabelWidth(const std::string& caption) {
    size_t chars = 0;
    for (unsigned char c : caption)
        if ((c & 0xC0) != 0x80) ++chars;
    return std::ceil(static_cast<double>(chars) * 2790.0 / 35.0 / 15.0 - 1e-9) * 15.0;
}

ContainerCore::CallScope::~CallScope() {
    if (--core_.depth_ > 0) return;
    try {
        core_.DeliverOwed();
    } catch (...) {
        // The notifications never raise; what a container's own hook lets
        // out here has no caller left to go to.
    }
}

void ContainerCore::Site(ctlKevraTaskList& control) {
    control_ = &control;
    for (const auto& design : ctlKevraTaskList::kChildren)
        frames_[Index(design.child)] = design.frame;
    label_caption_ = ctlKevraTaskList::kLabel.caption;
    MeasureLabel(label_caption_, LabelFrame());
    width_ = kDesignWidth;
    height_ = kDesignHeight;
    Sited();
    OweResize();
}

void ContainerCore::Resize(double width, double height) {
    border_h_ = pending_border_h_;
    border_v_ = pending_border_v_;
    width_ = width;
    height_ = height;
    OweResize();
}

void ContainerCore::SetBorders(double horizontal, double vertical) {
    pending_border_h_ = horizontal;
    pending_border_v_ = vertical;
}

void ContainerCore::OweResize() {
    resize_owed_ = true;
    DeliverOwed();
}

void ContainerCore::Paint() {
    if (!control_ || terminated_) return;
    if (depth_ > 0) {
        paint_owed_ = true;
        return;
    }
    Deliver(Notification::paint);
    DeliverOwed();
}

void ContainerCore::Terminate() {
    if (!control_ || terminated_) return;
    terminated_ = true;
    Deliver(Notification::terminate);
}

void ContainerCore::DeliverOwed() {
    if (depth_ > 0 || !control_ || terminated_) return;
    for (int i = 0; i < kMaxOwedChain && !terminated_; ++i) {
        if (resize_owed_) {
            resize_owed_ = false;
            Deliver(Notification::resize);
        } else if (boxes_owed_ > 0) {
            // One repaint for every box of the call and every paint that
            // came in meanwhile: the area is drawn once.
            boxes_owed_ = 0;
            paint_owed_ = false;
            Deliver(Notification::box_repaint);
        } else if (paint_owed_) {
            paint_owed_ = false;
            Deliver(Notification::paint);
        } else {
            Settled();
            return;
        }
    }
    resize_owed_ = false;
    paint_owed_ = false;
    boxes_owed_ = 0;
    if (!terminated_) Settled();
}

void ContainerCore::Deliver(Notification notification) {
    // Counted as a call on the stack, so that what the control does in it
    // (a size change, a box) is owed, not delivered nested.
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } on_stack(depth_);
    Notify(notification);
}

void ContainerCore::Notify(Notification notification) {
    switch (notification) {
        case Notification::resize:
            control_->UserControl_Resize();
            break;
        case Notification::paint:
            control_->UserControl_Paint(false);
            break;
        case Notification::box_repaint:
            control_->UserControl_Paint(true);
            break;
        case Notification::terminate:
            control_->UserControl_Terminate();
            break;
    }
}

void ContainerCore::SetEnabled(bool enabled) {
    enabled_ = enabled;
    EnabledSet(enabled);
}

void ContainerCore::SetWidth(float twips) {
    const bool changed = static_cast<double>(twips) != width_;
    if (changed) {
        width_ = twips;
        resize_owed_ = true;
    }
    WidthSet(twips);
    if (changed) DeliverOwed();
}

void ContainerCore::SetHeight(float twips) {
    const bool changed = static_cast<double>(twips) != height_;
    if (changed) {
        height_ = twips;
        resize_owed_ = true;
    }
    HeightSet(twips);
    if (changed) DeliverOwed();
}

void ContainerCore::SetVisible(Child child, bool visible) {
    frames_[Index(child)].visible = visible;
    VisibleSet(child, visible);
}

void ContainerCore::Move(Child child, float left, float top) {
    frames_[Index(child)].left = left;
    frames_[Index(child)].top = top;
    Moved(child, left, top);
}

void ContainerCore::SetLabelCaption(const std::string& caption) {
    label_caption_ = caption;
    LabelCaptionSet(caption);
    MeasureLabel(caption, LabelFrame());
    LabelMeasured();
}

void ContainerCore::MeasureLabel(const std::string& caption, ChildFrame& label) {
    label.width = EstimatedLabelWidth(caption);
}

void ContainerCore::SetMousePointer(int pointer) {
    pointer_ = pointer;
    PointerSet(pointer);
}

int ContainerCore::MsgBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                          const std::string& title) {
    // Owed before it shows: a box whose showing throws (a host's box
    // handler may) can have covered the area all the same.
    ++boxes_owed_;
    return ShowBox(prompt, icon, buttons, title);
}

}  // namespace kevra
