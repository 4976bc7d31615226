// The headless container: sites one control without any window system and
// records every call the control makes of it as an output line (kevra-host's
// contract, docs/host.md). Tests assert on the lines; kevra-host prints them.
//
// Notifications are delivered the way a window system would: a change of the
// outer size made inside a handler is answered with a resize notification
// after the handler has returned, and a message box is followed, once the
// command that led to it has returned, by one paint notification marked as
// the box's repaint.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "platform/control_site.h"

namespace kevra {

class ctlKevraTaskList;

class HeadlessSite : public ControlSite {
public:
    using LineSink = std::function<void(const std::string&)>;

    explicit HeadlessSite(LineSink sink);

    // Sites the control: children as designed, outer size = design size,
    // then the first resize notification.
    void Site(ctlKevraTaskList& control);

    // Host-side operations.
    void Resize(double width, double height);  // outer size, then a resize notification
    void SetBorders(double horizontal, double vertical);  // used from the next resize on
    void Paint();
    void Terminate();
    // Called when a command has returned: delivers the repaints that boxes
    // shown during it are owed.
    void AfterCommand();

    // ControlSite.
    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override;
    double Width() const override { return width_; }
    double Height() const override { return height_; }
    void SetWidth(float twips) override;
    void SetHeight(float twips) override;
    double ScaleWidth() const override { return width_ - border_h_; }
    double ScaleHeight() const override { return height_ - border_v_; }
    ChildFrame Frame(Child child) const override { return frames_[Index(child)]; }
    void SetVisible(Child child, bool visible) override;
    void Move(Child child, float left, float top) override;
    void SetLabelCaption(const std::string& caption) override;
    void RefreshLabel() override;
    void SetMousePointer(int pointer) override;
    void DoEvents() override;
    int MsgBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
               const std::string& title) override;

    // Every call the control made of the container, in order, one entry a
    // call ("SetVisible sslistTaskList true", "MsgBox critical ok TITLE
    // PROMPT"): the record tests assert busy states, boxes and visibility
    // against. The output lines are the subset kevra-host prints.
    const std::vector<std::string>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }

    int MousePointer() const { return pointer_; }
    const std::string& LabelCaption() const { return label_caption_; }
    bool Terminated() const { return terminated_; }

    // The width the label takes for a caption: the headless container's
    // text metric (the design caption measures 2790 twips, its design width).
    static double LabelWidthFor(const std::string& caption);

private:
    static size_t Index(Child child) { return static_cast<size_t>(child); }
    void DeliverResizes();

    LineSink sink_;
    ctlKevraTaskList* control_ = nullptr;
    bool enabled_ = true;
    double width_ = 0, height_ = 0;
    double border_h_ = 0, border_v_ = 0;
    double pending_border_h_ = 0, pending_border_v_ = 0;
    std::array<ChildFrame, kChildCount> frames_{};
    std::string label_caption_;
    int pointer_ = 0;
    bool resize_pending_ = false;
    bool delivering_resize_ = false;
    int boxes_since_command_ = 0;
    bool terminated_ = false;
    std::vector<std::string> calls_;
};

}  // namespace kevra
