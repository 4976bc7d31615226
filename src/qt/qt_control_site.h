// The control's container on a Qt desktop: the ControlSite the control asks
// for its surface, its children's frames and the desktop services.
//
// Lengths stay in twips here, exactly as the control wrote them, and are
// turned into pixels through the surface's logical DPI whenever a widget is
// placed, so the control keeps its size in inches on any screen. The pointer
// becomes one application override cursor (never stacked), the yield is
// QCoreApplication::processEvents, and the box a modal QMessageBox.
//
// The container's state and the delivery of the notifications the control
// is owed are the container core's (container/container_core.h). Every call
// into the control goes through Call(), which lets no exception out and
// counts as a call on the core's stack, so that a resize caused by the
// control and the repaint owed after a message box are delivered once the
// outermost call has returned, never nested inside one of the control's
// procedures. Qt's own paint events turn into the control's paint
// notification from the event loop, never inside a paint event.
#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

#include "container/container_core.h"

class QLabel;
class QWidget;

namespace kevra {
class ctlKevraTaskList;
}

namespace kevra::qt {

class QtControlSite : public QObject, public ContainerCore {
  public:
    // What a message box was asked to show; see SetBoxHandler.
    struct BoxRequest {
        std::string prompt;
        MsgBoxIcon icon;
        MsgBoxButtons buttons;
        std::string title;
    };
    // Returns the button pressed: 1 OK, 2 Cancel, 3 Abort, 4 Retry,
    // 5 Ignore, 6 Yes, 7 No.
    using BoxHandler = std::function<int(const BoxRequest&)>;

    // Paints of the surface that arrive this soon after a box has closed are
    // the box's own repaint (the uncovered area, the window's re-activation).
    static constexpr int kBoxRepaintMs = 200;

    explicit QtControlSite(QWidget* surface);
    ~QtControlSite() override;

    // Sites the control: the children as designed, the outer size as
    // designed, then the first resize notification.
    void Attach(ctlKevraTaskList* control, QLabel* label, QWidget* list_bar, QWidget* tree);

    // Runs `call` into the control. Nothing it throws gets out (it is
    // logged); once the outermost call has returned, the owed notifications
    // follow.
    void Call(const std::function<void()>& call);

    // Qt's side of the surface, from the container widget.
    void SurfacePainted(const QRegion& region);
    void SurfaceResized();
    void ScreenChanged();
    // The terminate notification, once; later calls do nothing. Also gives
    // the override cursor back.
    void Terminate();

    // Replaces the modal QMessageBox, for tests and for hosts that report
    // errors their own way. An empty handler brings the box back.
    void SetBoxHandler(BoxHandler handler) { box_handler_ = std::move(handler); }

    // Twips to pixels and back, through the surface's logical DPI.
    int PixelsX(double twips) const;
    int PixelsY(double twips) const;
    double TwipsX(int pixels) const;
    double TwipsY(int pixels) const;

    // The surface is enabled when Qt says so: a disabled parent disables it
    // too, and the user cannot reach it then.
    bool Enabled() const override;

  protected:
    void Notify(Notification notification) override;
    void EnabledSet(bool enabled) override;
    void WidthSet(float) override { FixSurfaceSize(); }
    void HeightSet(float) override { FixSurfaceSize(); }
    void VisibleSet(Child child, bool visible) override;
    void Moved(Child child, float, float) override { Place(child); }
    void LabelCaptionSet(const std::string& caption) override;
    void MeasureLabel(const std::string& caption, ChildFrame& label) override;
    void LabelMeasured() override { Place(Child::lblStatus); }
    void LabelRefreshed() override;
    void PointerSet(int pointer) override;
    void Yield() override;
    int ShowBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                const std::string& title) override;
    void Sited() override { PlaceAll(); }

  private:
    QWidget* ChildWidget(Child child) const;
    void Place(Child child);
    void PlaceAll();
    // The surface has no border: its size is the outer size.
    void FixSurfaceSize();
    void DeliverPaint();
    bool InBoxRepaint() const;

    QWidget* surface_;
    QPointer<QLabel> label_;
    QPointer<QWidget> list_bar_;
    QPointer<QWidget> tree_;

    bool paint_scheduled_ = false;  // a queued paint notification is on its way
    int boxes_open_ = 0;
    QElapsedTimer box_closed_;

    bool override_cursor_ = false;
    QPointer<QWidget> focus_before_disable_;
    BoxHandler box_handler_;
};

// The box a request asks for, in Qt's terms, and the control's number for
// the button the box gives back (1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore,
// 6 Yes, 7 No). The site's own box and a host's message handler share them.
QMessageBox::Icon IconFor(MsgBoxIcon icon);
QMessageBox::StandardButtons ButtonsFor(MsgBoxButtons buttons);
int ResultFor(int button);

}  // namespace kevra::qt
