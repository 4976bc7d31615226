// The Qt container of the task list control.
#include "qt/qt_control_site.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QRegion>
#include <QWidget>
#include <exception>

#include "control/ctlKevraTaskList.h"
#include "qt/appearance_p.h"
#include "qt/logging_p.h"

namespace kevra::qt {

namespace {

Qt::CursorShape ShapeFor(int pointer) {
    switch (pointer) {
        case 2:
            return Qt::CrossCursor;
        case 3:
            return Qt::IBeamCursor;
        case 5:
            return Qt::SizeAllCursor;
        case 6:
            return Qt::SizeBDiagCursor;
        case 7:
            return Qt::SizeVerCursor;
        case 8:
            return Qt::SizeFDiagCursor;
        case 9:
            return Qt::SizeHorCursor;
        case 10:
            return Qt::UpArrowCursor;
        case 11:
            return Qt::WaitCursor;
        case 12:
            return Qt::ForbiddenCursor;
        case 13:
            return Qt::BusyCursor;
        case 14:
            return Qt::WhatsThisCursor;
        case 15:
            return Qt::SizeAllCursor;
        default:
            return Qt::ArrowCursor;
    }
}

}  // namespace

QMessageBox::Icon IconFor(MsgBoxIcon icon) {
    switch (icon) {
        case MsgBoxIcon::critical:
            return QMessageBox::Critical;
        case MsgBoxIcon::question:
            return QMessageBox::Question;
        case MsgBoxIcon::warning:
            return QMessageBox::Warning;
        case MsgBoxIcon::information:
            return QMessageBox::Information;
        case MsgBoxIcon::none:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ButtonsFor(MsgBoxButtons buttons) {
    switch (buttons) {
        case MsgBoxButtons::ok:
            return QMessageBox::Ok;
        case MsgBoxButtons::okcancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MsgBoxButtons::abortretryignore:
            return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
        case MsgBoxButtons::yesnocancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MsgBoxButtons::yesno:
            return QMessageBox::Yes | QMessageBox::No;
        case MsgBoxButtons::retrycancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

int ResultFor(int button) {
    switch (button) {
        case QMessageBox::Cancel:
            return 2;
        case QMessageBox::Abort:
            return 3;
        case QMessageBox::Retry:
            return 4;
        case QMessageBox::Ignore:
            return 5;
        case QMessageBox::Yes:
            return 6;
        case QMessageBox::No:
            return 7;
        default:
            return 1;
    }
}

QtControlSite::QtControlSite(QWidget* surface) : QObject(surface), surface_(surface) {}

QtControlSite::~QtControlSite() {
    if (override_cursor_) QGuiApplication::restoreOverrideCursor();
}

int QtControlSite::PixelsX(double twips) const {
    return qRound(twips * surface_->logicalDpiX() / 1440.0);
}
int QtControlSite::PixelsY(double twips) const {
    return qRound(twips * surface_->logicalDpiY() / 1440.0);
}
double QtControlSite::TwipsX(int pixels) const { return pixels * 1440.0 / surface_->logicalDpiX(); }
double QtControlSite::TwipsY(int pixels) const { return pixels * 1440.0 / surface_->logicalDpiY(); }

void QtControlSite::Attach(ctlKevraTaskList* control, QLabel* label, QWidget* list_bar,
                           QWidget* tree) {
    label_ = label;
    list_bar_ = list_bar;
    tree_ = tree;

    const LabelDesign& text = ctlKevraTaskList::kLabel;
    label_->setTextFormat(Qt::PlainText);
    label_->setAlignment(text.centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    label_->setFont(
        fontFor(text.font_name, text.font_size, text.font_weight, false, false, label_->font()));
    label_->setText(QString::fromUtf8(text.caption));
    Site(*control);
}

QWidget* QtControlSite::ChildWidget(Child child) const {
    switch (child) {
        case Child::lblStatus:
            return label_;
        case Child::sslistTaskList:
            return list_bar_;
        case Child::sstreeTaskList:
            return tree_;
    }
    return nullptr;
}

void QtControlSite::Place(Child child) {
    QWidget* widget = ChildWidget(child);
    if (!widget) return;
    const ChildFrame f = Frame(child);
    widget->setGeometry(PixelsX(f.left), PixelsY(f.top), PixelsX(f.width), PixelsY(f.height));
    widget->setVisible(f.visible);
}

void QtControlSite::FixSurfaceSize() {
    surface_->setFixedSize(PixelsX(Width()), PixelsY(Height()));
}

void QtControlSite::PlaceAll() {
    FixSurfaceSize();
    for (int i = 0; i < kChildCount; ++i) Place(static_cast<Child>(i));
}

void QtControlSite::MeasureLabel(const std::string&, ChildFrame& frame) {
    if (!label_) return;
    // The label sizes itself to its caption; its frame keeps that size in
    // twips so the layout pass centres what is really drawn.
    const QSize hint = label_->sizeHint();
    frame.width = TwipsX(hint.width());
    frame.height = TwipsY(hint.height());
}

void QtControlSite::Call(const std::function<void()>& call) {
    CallScope scope(*this);
    try {
        call();
    } catch (const std::exception& e) {
        qCWarning(lcKevraQt, "a call into the task list control failed: %s", e.what());
    } catch (...) {
        qCWarning(lcKevraQt, "a call into the task list control failed");
    }
}

void QtControlSite::Notify(Notification notification) {
    try {
        ContainerCore::Notify(notification);
    } catch (const std::exception& e) {
        qCWarning(lcKevraQt, "a notification to the task list control failed: %s", e.what());
    } catch (...) {
        qCWarning(lcKevraQt, "a notification to the task list control failed");
    }
}

bool QtControlSite::InBoxRepaint() const {
    return boxes_open_ > 0 || (box_closed_.isValid() && box_closed_.elapsed() < kBoxRepaintMs);
}

void QtControlSite::SurfacePainted(const QRegion& region) {
    if (!Control() || Terminated()) return;
    // A child's repaint also repaints the surface below it; only a paint of
    // the surface's own area is the control's paint notification.
    QRegion own = region;
    const QWidget* children[] = {label_.data(), list_bar_.data(), tree_.data()};
    for (const QWidget* child : children)
        if (child && child->isVisible()) own -= child->geometry();
    if (own.isEmpty() || InBoxRepaint()) return;
    if (Depth() > 0) {
        Paint();  // owed until the call has returned
        return;
    }
    if (paint_scheduled_) return;
    paint_scheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            paint_scheduled_ = false;
            DeliverPaint();
        },
        Qt::QueuedConnection);
}

void QtControlSite::DeliverPaint() {
    if (!Control() || Terminated()) return;
    Paint();
}

void QtControlSite::SurfaceResized() {
    if (!Control() || Terminated()) return;
    const int w = surface_->width(), h = surface_->height();
    const bool width_changed = w != PixelsX(Width());
    const bool height_changed = h != PixelsY(Height());
    if (!width_changed && !height_changed) return;  // our own placement
    Resize(width_changed ? TwipsX(w) : Width(), height_changed ? TwipsY(h) : Height());
}

void QtControlSite::ScreenChanged() {
    if (!Control() || Terminated()) return;
    MeasureLabel(LabelCaption(), LabelFrame());
    PlaceAll();
    OweResize();
}

void QtControlSite::Terminate() {
    if (Terminated() || !Control()) return;
    // Nothing owed is delivered to a control that is going away.
    ContainerCore::Terminate();
    if (override_cursor_) {
        QGuiApplication::restoreOverrideCursor();
        override_cursor_ = false;
    }
}

bool QtControlSite::Enabled() const { return surface_->isEnabled(); }

void QtControlSite::EnabledSet(bool enabled) {
    if (!enabled) {
        // Disabling takes the keyboard focus away from the child that had
        // it; a keyboard user expects it back when the work is done.
        QWidget* focus = surface_->window()->focusWidget();
        if (focus && surface_->isAncestorOf(focus)) focus_before_disable_ = focus;
        surface_->setEnabled(false);
        return;
    }
    surface_->setEnabled(true);
    QWidget* focus = focus_before_disable_;
    focus_before_disable_ = nullptr;
    // Only where nothing else took the focus meanwhile.
    if (focus && focus->isVisible() && focus->isEnabled() && !surface_->window()->focusWidget())
        focus->setFocus(Qt::OtherFocusReason);
}

void QtControlSite::VisibleSet(Child child, bool visible) {
    if (QWidget* widget = ChildWidget(child)) widget->setVisible(visible);
}

void QtControlSite::LabelCaptionSet(const std::string& caption) {
    if (label_) label_->setText(QString::fromStdString(caption));
}

void QtControlSite::LabelRefreshed() {
    if (label_) label_->repaint();
}

void QtControlSite::PointerSet(int pointer) {
    if (pointer == 0) {
        if (override_cursor_) QGuiApplication::restoreOverrideCursor();
        override_cursor_ = false;
        return;
    }
    const QCursor cursor(ShapeFor(pointer));
    if (override_cursor_) {
        QGuiApplication::changeOverrideCursor(cursor);
    } else {
        QGuiApplication::setOverrideCursor(cursor);
        override_cursor_ = true;
    }
}

void QtControlSite::Yield() { QCoreApplication::processEvents(); }

int QtControlSite::ShowBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                           const std::string& title) {
    ++boxes_open_;
    int result = 1;
    try {
        if (box_handler_) {
            result = box_handler_(BoxRequest{prompt, icon, buttons, title});
        } else {
            // Error texts carry catalogue data: never let them be read as
            // rich text.
            QMessageBox box(IconFor(icon), QString::fromStdString(title),
                            QString::fromStdString(prompt), ButtonsFor(buttons),
                            surface_->window());
            box.setTextFormat(Qt::PlainText);
            // The busy pointer stays for the work around the box, not over
            // the box the user has to answer.
            const bool busy = override_cursor_;
            const Qt::CursorShape shape = busy && QGuiApplication::overrideCursor()
                                              ? QGuiApplication::overrideCursor()->shape()
                                              : Qt::ArrowCursor;
            if (busy) QGuiApplication::changeOverrideCursor(QCursor(Qt::ArrowCursor));
            result = ResultFor(box.exec());
            if (busy && override_cursor_) QGuiApplication::changeOverrideCursor(QCursor(shape));
        }
    } catch (...) {
        --boxes_open_;
        box_closed_.start();
        throw;
    }
    --boxes_open_;
    box_closed_.start();
    return result;
}

}  // namespace kevra::qt
