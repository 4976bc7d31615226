// The headless container: the container core with output lines and a record
// of the control's calls.
#include "headless/headless_site.h"

#include "platform/json.h"

namespace kevra {

namespace {

const char* IconName(MsgBoxIcon icon) {
    switch (icon) {
        case MsgBoxIcon::critical:
            return "critical";
        case MsgBoxIcon::question:
            return "question";
        case MsgBoxIcon::warning:
            return "warning";
        case MsgBoxIcon::information:
            return "information";
        case MsgBoxIcon::none:
            break;
    }
    return "none";
}

const char* ButtonsName(MsgBoxButtons buttons) {
    switch (buttons) {
        case MsgBoxButtons::ok:
            return "ok";
        case MsgBoxButtons::okcancel:
            return "okcancel";
        case MsgBoxButtons::abortretryignore:
            return "abortretryignore";
        case MsgBoxButtons::yesnocancel:
            return "yesnocancel";
        case MsgBoxButtons::yesno:
            return "yesno";
        case MsgBoxButtons::retrycancel:
            return "retrycancel";
    }
    return "ok";
}

const char* ChildName(Child child) {
    switch (child) {
        case Child::lblStatus:
            return "lblStatus";
        case Child::sslistTaskList:
            return "sslistTaskList";
        case Child::sstreeTaskList:
            return "sstreeTaskList";
    }
    return "?";
}

}  // namespace

HeadlessSite::HeadlessSite(LineSink sink) : sink_(std::move(sink)) {}

void HeadlessSite::RecordCalls(bool record) {
    record_ = record;
    if (!record) std::vector<std::string>().swap(calls_);
}

void HeadlessSite::StartTaskRaised(int32_t id, const std::string& url, const std::string& parms) {
    sink_("event StartTask " + std::to_string(id) + " " + json::Quote(url) + " " +
          json::Quote(parms));
}

void HeadlessSite::Refused(const Refusal& refusal) {
    sink_("refused " + json::Quote(refusal.reason));
}

void HeadlessSite::EnabledSet(bool enabled) {
    if (record_) calls_.push_back(enabled ? "SetEnabled true" : "SetEnabled false");
    sink_(enabled ? "enabled true" : "enabled false");
}

void HeadlessSite::WidthSet(float twips) {
    if (record_) calls_.push_back("SetWidth " + json::Number(twips));
}

void HeadlessSite::HeightSet(float twips) {
    if (record_) calls_.push_back("SetHeight " + json::Number(twips));
}

void HeadlessSite::VisibleSet(Child child, bool visible) {
    if (record_)
        calls_.push_back(std::string("SetVisible ") + ChildName(child) +
                         (visible ? " true" : " false"));
}

void HeadlessSite::Moved(Child child, float left, float top) {
    if (record_)
        calls_.push_back(std::string("Move ") + ChildName(child) + " " + json::Number(left) + " " +
                         json::Number(top));
}

void HeadlessSite::LabelCaptionSet(const std::string& caption) {
    if (record_) calls_.push_back("SetLabelCaption " + json::Quote(caption));
}

void HeadlessSite::LabelRefreshed() {
    if (record_) calls_.push_back("RefreshLabel");
}

void HeadlessSite::PointerSet(int pointer) {
    if (record_) calls_.push_back("SetMousePointer " + std::to_string(pointer));
    sink_("pointer " + std::to_string(pointer));
}

void HeadlessSite::Yield() {
    if (record_) calls_.push_back("DoEvents");
    sink_("yield");
}

int HeadlessSite::ShowBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                          const std::string& title) {
    const std::string line = std::string("msgbox ") + IconName(icon) + " " + ButtonsName(buttons) +
                             " " + json::Quote(title) + " " + json::Quote(prompt);
    if (record_) calls_.push_back("MsgBox" + line.substr(6));
    sink_(line);
    return 1;  // OK
}

}  // namespace kevra
