// The headless container.
#include "headless/headless_site.h"

#include <cmath>

#include "control/ctlKevraTaskList.h"
#include "platform/json.h"

namespace kevra {

namespace {

const char* IconName(MsgBoxIcon icon) {
    switch (icon) {
        case MsgBoxIcon::critical: return "critical";
        case MsgBoxIcon::question: return "question";
        case MsgBoxIcon::warning: return "warning";
        case MsgBoxIcon::information: return "information";
        case MsgBoxIcon::none: break;
    }
    return "none";
}

const char* ButtonsName(MsgBoxButtons buttons) {
    switch (buttons) {
        case MsgBoxButtons::ok: return "ok";
        case MsgBoxButtons::okcancel: return "okcancel";
        case MsgBoxButtons::abortretryignore: return "abortretryignore";
        case MsgBoxButtons::yesnocancel: return "yesnocancel";
        case MsgBoxButtons::yesno: return "yesno";
        case MsgBoxButtons::retrycancel: return "retrycancel";
    }
    return "ok";
}

// Resize notifications that the control answers with yet another size
// change are cut off here: a layout that never settles must not hang the
// container.
constexpr int kMaxResizeChain = 64;
// Likewise for boxes shown by the repaint that follows a box.
constexpr int kMaxRepaintChain = 64;

}  // namespace

HeadlessSite::HeadlessSite(LineSink sink) : sink_(std::move(sink)) {}

double HeadlessSite::LabelWidthFor(const std::string& caption) {
    // An average character of the label's font is 2790/35 twips wide; the
    // width is whole pixels at 15 twips a pixel. Count characters, not bytes.
    size_t chars = 0;
    for (unsigned char c : caption)
        if ((c & 0xC0) != 0x80) ++chars;
    return std::ceil(static_cast<double>(chars) * 2790.0 / 35.0 / 15.0 - 1e-9) * 15.0;
}

void HeadlessSite::Site(ctlKevraTaskList& control) {
    control_ = &control;
    for (const auto& design : ctlKevraTaskList::kChildren) frames_[Index(design.child)] = design.frame;
    label_caption_ = ctlKevraTaskList::kLabel.caption;
    width_ = 11070;
    height_ = 5640;
    resize_pending_ = true;
    DeliverResizes();
}

void HeadlessSite::Resize(double width, double height) {
    border_h_ = pending_border_h_;
    border_v_ = pending_border_v_;
    width_ = width;
    height_ = height;
    resize_pending_ = true;
    DeliverResizes();
}

void HeadlessSite::SetBorders(double horizontal, double vertical) {
    pending_border_h_ = horizontal;
    pending_border_v_ = vertical;
}

void HeadlessSite::DeliverResizes() {
    if (delivering_resize_ || !control_) return;
    delivering_resize_ = true;
    for (int i = 0; resize_pending_ && i < kMaxResizeChain; ++i) {
        resize_pending_ = false;
        control_->UserControl_Resize();
    }
    resize_pending_ = false;
    delivering_resize_ = false;
}

void HeadlessSite::Paint() {
    if (control_) control_->UserControl_Paint(false);
}

void HeadlessSite::Terminate() {
    if (control_ && !terminated_) control_->UserControl_Terminate();
    terminated_ = true;
}

void HeadlessSite::AfterCommand() {
    for (int i = 0; boxes_since_command_ > 0 && i < kMaxRepaintChain; ++i) {
        boxes_since_command_ = 0;
        if (control_ && !terminated_) control_->UserControl_Paint(true);
    }
    boxes_since_command_ = 0;
}

namespace {
const char* ChildName(Child child) {
    switch (child) {
        case Child::lblStatus: return "lblStatus";
        case Child::sslistTaskList: return "sslistTaskList";
        case Child::sstreeTaskList: return "sstreeTaskList";
    }
    return "?";
}
}  // namespace

void HeadlessSite::SetEnabled(bool enabled) {
    calls_.push_back(enabled ? "SetEnabled true" : "SetEnabled false");
    enabled_ = enabled;
    sink_(enabled ? "enabled true" : "enabled false");
}

void HeadlessSite::SetWidth(float twips) {
    calls_.push_back("SetWidth " + json::Number(twips));
    if (static_cast<double>(twips) == width_) return;
    width_ = twips;
    resize_pending_ = true;
}

void HeadlessSite::SetHeight(float twips) {
    calls_.push_back("SetHeight " + json::Number(twips));
    if (static_cast<double>(twips) == height_) return;
    height_ = twips;
    resize_pending_ = true;
}

void HeadlessSite::SetVisible(Child child, bool visible) {
    calls_.push_back(std::string("SetVisible ") + ChildName(child) + (visible ? " true" : " false"));
    frames_[Index(child)].visible = visible;
}

void HeadlessSite::Move(Child child, float left, float top) {
    calls_.push_back(std::string("Move ") + ChildName(child) + " " + json::Number(left) + " " +
                     json::Number(top));
    frames_[Index(child)].left = left;
    frames_[Index(child)].top = top;
}

void HeadlessSite::SetLabelCaption(const std::string& caption) {
    calls_.push_back("SetLabelCaption " + json::Quote(caption));
    label_caption_ = caption;
    frames_[Index(Child::lblStatus)].width = LabelWidthFor(caption);
}

void HeadlessSite::RefreshLabel() { calls_.push_back("RefreshLabel"); }

void HeadlessSite::SetMousePointer(int pointer) {
    calls_.push_back("SetMousePointer " + std::to_string(pointer));
    pointer_ = pointer;
    sink_("pointer " + std::to_string(pointer));
}

void HeadlessSite::DoEvents() {
    calls_.push_back("DoEvents");
    sink_("yield");
}

int HeadlessSite::MsgBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                         const std::string& title) {
    const std::string line = std::string("msgbox ") + IconName(icon) + " " + ButtonsName(buttons) +
                             " " + json::Quote(title) + " " + json::Quote(prompt);
    calls_.push_back("MsgBox" + line.substr(6));
    sink_(line);
    ++boxes_since_command_;
    return 1;  // OK
}

}  // namespace kevra
