// What the control asks of the container that sites it.
//
// The container owns the control's surface (enabled state, outer and inner
// size) and the three children's frames (visibility and position, in
// twips); it provides the screen-wide mouse pointer, one yield to the message
// loop and the modal message box. It sends the control its resize, paint and
// terminate notifications (ctlKevraTaskList::UserControl_Resize and friends).
//
// Containers must keep two promises:
// - Setting the outer size to a value that differs from the current one
//   leads to one resize notification after the handler that set it has
//   returned, never a nested one.
// - A message box is followed by a repaint of the area it covered once the
//   call that led to it has returned. The container delivers that repaint
//   as one paint notification marked as such (`after_box` true), so that
//   the control can tell it from a paint the host or the user caused.
//
// The containers of this library keep them, and the state above, in one
// place: the container core (container/container_core.h) they build on.
#pragma once

#include <string>

namespace kevra {

enum class Child { lblStatus = 0, sslistTaskList = 1, sstreeTaskList = 2 };
constexpr int kChildCount = 3;

// The screen-wide mouse pointers the control asks its site for; the codes
// are those a host's pointer property takes.
constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;

struct ChildFrame {
    bool visible = false;
    double left = 0, top = 0, width = 0, height = 0;  // twips
};

// The design of one child: how the container creates it.
struct ChildDesign {
    Child child;
    const char* name;
    int tab_index;
    ChildFrame frame;
};

// Label text design.
struct LabelDesign {
    const char* caption;
    const char* font_name;
    double font_size;
    int font_weight;
    bool centred;
    bool auto_size;
};

enum class MsgBoxIcon { none, critical, question, warning, information };
enum class MsgBoxButtons { ok, okcancel, abortretryignore, yesnocancel, yesno, retrycancel };

class ControlSite {
  public:
    virtual ~ControlSite() = default;

    // The control surface.
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual double Width() const = 0;  // outer size, twips
    virtual double Height() const = 0;
    virtual void SetWidth(float twips) = 0;
    virtual void SetHeight(float twips) = 0;
    virtual double ScaleWidth() const = 0;  // inner size, twips
    virtual double ScaleHeight() const = 0;

    // The children.
    virtual ChildFrame Frame(Child child) const = 0;
    virtual void SetVisible(Child child, bool visible) = 0;
    virtual void Move(Child child, float left, float top) = 0;
    // The label sizes itself to its caption.
    virtual void SetLabelCaption(const std::string& caption) = 0;
    virtual void RefreshLabel() = 0;

    // Application services.
    virtual void SetMousePointer(int pointer) = 0;  // kPointerHourglass or kPointerDefault
    virtual void DoEvents() = 0;
    // Shows a modal box and returns the button pressed (1 = OK).
    virtual int MsgBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                       const std::string& title) = 0;
};

}  // namespace kevra
