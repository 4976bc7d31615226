// The container on the host's callbacks.
#include "abi/callback_site.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kevra::abi {

CallbackSite::CallbackSite(const kevra_site_callbacks& callbacks, void* user) : user_(user) {
    // A host built against an older, shorter struct leaves the newer
    // callbacks NULL; one built against a newer header has members we ignore.
    std::memcpy(&callbacks_, &callbacks,
                std::min<size_t>(callbacks.struct_size, sizeof callbacks_));
    callbacks_.struct_size = sizeof callbacks_;
}

void CallbackSite::Site(ctlKevraTaskList& control) {
    ContainerCore::Site(control);
    reporting_ = true;
    ReportSize();
    for (Child child : {Child::lblStatus, Child::sslistTaskList, Child::sstreeTaskList})
        ReportChild(child);
}

void CallbackSite::EnabledSet(bool enabled) {
    if (reporting_ && callbacks_.enabled_changed) callbacks_.enabled_changed(user_, enabled);
}

void CallbackSite::ReportSize() {
    if (!reporting_ || (Width() == told_width_ && Height() == told_height_)) return;
    told_width_ = Width();
    told_height_ = Height();
    if (callbacks_.size_changed) callbacks_.size_changed(user_, told_width_, told_height_);
}

void CallbackSite::MeasureLabel(const std::string& caption, ChildFrame& label) {
    // The host knows the font it draws with; without its measure the label
    // is as wide as the library's estimate.
    if (callbacks_.label_caption_changed) {
        const double width = callbacks_.label_caption_changed(user_, caption.c_str());
        if (std::isfinite(width) && width >= 0) {
            label.width = width;
            return;
        }
    }
    ContainerCore::MeasureLabel(caption, label);
}

void CallbackSite::ReportChild(Child child) {
    if (!reporting_ || !callbacks_.child_changed) return;
    const ChildFrame f = Frame(child);
    const kevra_frame frame = {f.visible ? 1 : 0, f.left, f.top, f.width, f.height};
    callbacks_.child_changed(user_, static_cast<int>(child), &frame);
}

void CallbackSite::PointerSet(int pointer) {
    if (callbacks_.mouse_pointer) callbacks_.mouse_pointer(user_, pointer);
}

void CallbackSite::Yield() {
    if (callbacks_.do_events) callbacks_.do_events(user_);
}

int CallbackSite::ShowBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                          const std::string& title) {
    if (!callbacks_.message_box) return 1;
    return callbacks_.message_box(user_, prompt.c_str(), static_cast<int>(icon),
                                  static_cast<int>(buttons), title.c_str());
}

}  // namespace kevra::abi
