// The container on the host's callbacks.
#include "abi/callback_site.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "control/ctlKevraTaskList.h"

namespace kevra::abi {

CallbackSite::CallbackSite(const kevra_site_callbacks& callbacks, void* user)
    : user_(user), state_([](const std::string&) {}) {
    // A host built against an older, shorter struct leaves the newer
    // callbacks NULL; one built against a newer header has members we ignore.
    std::memcpy(&callbacks_, &callbacks,
                std::min<size_t>(callbacks.struct_size, sizeof callbacks_));
    callbacks_.struct_size = sizeof callbacks_;
}

void CallbackSite::Site(ctlKevraTaskList& control) {
    Measure(ctlKevraTaskList::kLabel.caption);
    state_.Site(control);
    reporting_ = true;
    ReportSize();
    for (Child child : {Child::lblStatus, Child::sslistTaskList, Child::sstreeTaskList})
        ReportChild(child);
}

void CallbackSite::SetEnabled(bool enabled) {
    state_.SetEnabled(enabled);
    if (reporting_ && callbacks_.enabled_changed) callbacks_.enabled_changed(user_, enabled);
}

void CallbackSite::SetWidth(float twips) {
    state_.SetWidth(twips);
    ReportSize();
}

void CallbackSite::SetHeight(float twips) {
    state_.SetHeight(twips);
    ReportSize();
}

void CallbackSite::ReportSize() {
    if (!reporting_ || (state_.Width() == told_width_ && state_.Height() == told_height_)) return;
    told_width_ = state_.Width();
    told_height_ = state_.Height();
    if (callbacks_.size_changed) callbacks_.size_changed(user_, told_width_, told_height_);
}

ChildFrame CallbackSite::Frame(Child child) const {
    ChildFrame frame = state_.Frame(child);
    if (child == Child::lblStatus && label_width_ >= 0) frame.width = label_width_;
    return frame;
}

void CallbackSite::SetVisible(Child child, bool visible) {
    state_.SetVisible(child, visible);
    ReportChild(child);
}

void CallbackSite::Move(Child child, float left, float top) {
    state_.Move(child, left, top);
    ReportChild(child);
}

void CallbackSite::Measure(const std::string& caption) {
    label_width_ = -1;
    if (!callbacks_.label_caption_changed) return;
    const double width = callbacks_.label_caption_changed(user_, caption.c_str());
    if (std::isfinite(width) && width >= 0) label_width_ = width;
}

void CallbackSite::SetLabelCaption(const std::string& caption) {
    state_.SetLabelCaption(caption);
    Measure(caption);
    ReportChild(Child::lblStatus);
}

void CallbackSite::ReportChild(Child child) {
    if (!reporting_ || !callbacks_.child_changed) return;
    const ChildFrame f = Frame(child);
    const kevra_frame frame = {f.visible ? 1 : 0, f.left, f.top, f.width, f.height};
    callbacks_.child_changed(user_, static_cast<int>(child), &frame);
}

void CallbackSite::SetMousePointer(int pointer) {
    state_.SetMousePointer(pointer);
    if (callbacks_.mouse_pointer) callbacks_.mouse_pointer(user_, pointer);
}

void CallbackSite::DoEvents() {
    if (callbacks_.do_events) callbacks_.do_events(user_);
}

int CallbackSite::MsgBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                         const std::string& title) {
    // The state keeper owes the control the repaint of the area the box
    // covered, once the host's call has returned.
    state_.MsgBox(prompt, icon, buttons, title);
    if (!callbacks_.message_box) return 1;
    return callbacks_.message_box(user_, prompt.c_str(), static_cast<int>(icon),
                                  static_cast<int>(buttons), title.c_str());
}

}  // namespace kevra::abi
