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
#include "qt/appearance.h"

namespace kevra::qt {

namespace {

// A resize that the control keeps answering with another size change, or a
// box shown again by every repaint that follows a box, is cut off here: the
// container must not hang its host.
constexpr int kMaxOwedChain = 64;

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

}  // namespace

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
    control_ = control;
    label_ = label;
    list_bar_ = list_bar;
    tree_ = tree;
    for (const auto& design : ctlKevraTaskList::kChildren)
        frames_[static_cast<int>(design.child)] = design.frame;

    const LabelDesign& text = ctlKevraTaskList::kLabel;
    label_->setTextFormat(Qt::PlainText);
    label_->setAlignment(text.centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    label_->setFont(
        FontFor(text.font_name, text.font_size, text.font_weight, false, false, label_->font()));
    label_->setText(QString::fromUtf8(text.caption));
    MeasureLabel();

    width_ = 11070;
    height_ = 5640;
    PlaceAll();
    resize_pending_ = true;
    if (depth_ == 0) DeliverOwed();
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
    const ChildFrame& f = frames_[static_cast<int>(child)];
    widget->setGeometry(PixelsX(f.left), PixelsY(f.top), PixelsX(f.width), PixelsY(f.height));
    widget->setVisible(f.visible);
}

void QtControlSite::PlaceAll() {
    surface_->setFixedSize(PixelsX(width_), PixelsY(height_));
    for (int i = 0; i < kChildCount; ++i) Place(static_cast<Child>(i));
}

void QtControlSite::MeasureLabel() {
    if (!label_) return;
    // The label sizes itself to its caption; its frame keeps that size in
    // twips so the layout pass centres what is really drawn.
    const QSize hint = label_->sizeHint();
    ChildFrame& f = frames_[static_cast<int>(Child::lblStatus)];
    f.width = TwipsX(hint.width());
    f.height = TwipsY(hint.height());
}

void QtControlSite::Call(const std::function<void()>& call) {
    Invoke(call);
    if (depth_ == 0) DeliverOwed();
}

void QtControlSite::Invoke(const std::function<void()>& call) {
    ++depth_;
    try {
        call();
    } catch (const std::exception& e) {
        qWarning("kevra: a call into the task list control failed: %s", e.what());
    } catch (...) {
        qWarning("kevra: a call into the task list control failed");
    }
    --depth_;
}

void QtControlSite::DeliverOwed() {
    for (int i = 0; i < kMaxOwedChain; ++i) {
        if (terminated_ || !control_) break;
        if (resize_pending_) {
            resize_pending_ = false;
            Invoke([this] { control_->UserControl_Resize(); });
        } else if (boxes_owed_ > 0) {
            // The box's repaint stands for every paint that came in during
            // the call that showed it.
            boxes_owed_ = 0;
            paint_pending_ = false;
            Invoke([this] { control_->UserControl_Paint(true); });
        } else if (paint_pending_) {
            paint_pending_ = false;
            Invoke([this] { control_->UserControl_Paint(false); });
        } else {
            return;
        }
    }
    resize_pending_ = false;
    paint_pending_ = false;
    boxes_owed_ = 0;
}

bool QtControlSite::InBoxRepaint() const {
    return boxes_open_ > 0 || (box_closed_.isValid() && box_closed_.elapsed() < kBoxRepaintMs);
}

void QtControlSite::SurfacePainted(const QRegion& region) {
    if (!control_ || terminated_) return;
    // A child's repaint also repaints the surface below it; only a paint of
    // the surface's own area is the control's paint notification.
    QRegion own = region;
    const QWidget* children[] = {label_.data(), list_bar_.data(), tree_.data()};
    for (const QWidget* child : children)
        if (child && child->isVisible()) own -= child->geometry();
    if (own.isEmpty() || InBoxRepaint()) return;
    if (depth_ > 0) {
        paint_pending_ = true;
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
    if (!control_ || terminated_) return;
    if (depth_ > 0) {
        paint_pending_ = true;
        return;
    }
    Call([this] { control_->UserControl_Paint(false); });
}

void QtControlSite::SurfaceResized() {
    if (!control_ || terminated_) return;
    const int w = surface_->width(), h = surface_->height();
    const bool width_changed = w != PixelsX(width_);
    const bool height_changed = h != PixelsY(height_);
    if (!width_changed && !height_changed) return;  // our own placement
    if (width_changed) width_ = TwipsX(w);
    if (height_changed) height_ = TwipsY(h);
    resize_pending_ = true;
    if (depth_ == 0) DeliverOwed();
}

void QtControlSite::ScreenChanged() {
    if (!control_ || terminated_) return;
    MeasureLabel();
    PlaceAll();
    resize_pending_ = true;
    if (depth_ == 0) DeliverOwed();
}

void QtControlSite::Terminate() {
    if (terminated_ || !control_) return;
    // Nothing owed is delivered to a control that is going away.
    terminated_ = true;
    Invoke([this] { control_->UserControl_Terminate(); });
    if (override_cursor_) {
        QGuiApplication::restoreOverrideCursor();
        override_cursor_ = false;
    }
}

bool QtControlSite::Enabled() const { return surface_->isEnabled(); }

void QtControlSite::SetEnabled(bool enabled) {
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

void QtControlSite::SetWidth(float twips) {
    if (static_cast<double>(twips) == width_) return;
    width_ = twips;
    surface_->setFixedSize(PixelsX(width_), PixelsY(height_));
    resize_pending_ = true;
    if (depth_ == 0) DeliverOwed();
}

void QtControlSite::SetHeight(float twips) {
    if (static_cast<double>(twips) == height_) return;
    height_ = twips;
    surface_->setFixedSize(PixelsX(width_), PixelsY(height_));
    resize_pending_ = true;
    if (depth_ == 0) DeliverOwed();
}

ChildFrame QtControlSite::Frame(Child child) const { return frames_[static_cast<int>(child)]; }

void QtControlSite::SetVisible(Child child, bool visible) {
    frames_[static_cast<int>(child)].visible = visible;
    if (QWidget* widget = ChildWidget(child)) widget->setVisible(visible);
}

void QtControlSite::Move(Child child, float left, float top) {
    ChildFrame& f = frames_[static_cast<int>(child)];
    f.left = left;
    f.top = top;
    Place(child);
}

void QtControlSite::SetLabelCaption(const std::string& caption) {
    if (!label_) return;
    label_->setText(QString::fromStdString(caption));
    MeasureLabel();
    Place(Child::lblStatus);
}

void QtControlSite::RefreshLabel() {
    if (label_) label_->repaint();
}

void QtControlSite::SetMousePointer(int pointer) {
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

void QtControlSite::DoEvents() { QCoreApplication::processEvents(); }

int QtControlSite::MsgBox(const std::string& prompt, MsgBoxIcon icon, MsgBoxButtons buttons,
                          const std::string& title) {
    ++boxes_open_;
    ++boxes_shown_;
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
        ++boxes_owed_;
        box_closed_.start();
        throw;
    }
    --boxes_open_;
    ++boxes_owed_;
    box_closed_.start();
    if (depth_ == 0) DeliverOwed();
    return result;
}

}  // namespace kevra::qt
