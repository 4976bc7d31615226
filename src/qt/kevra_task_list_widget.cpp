// The task list control's Qt widget: siting, host API and event wiring.
#include "qt/kevra_task_list_widget.h"

#include <QEvent>
#include <QLabel>
#include <QPaintEvent>

#include "control/ctlKevraTaskList.h"
#include "qt/kevra_task_list_widget_p.h"
#include "qt/list_bar_view_p.h"
#include "qt/logging_p.h"
#include "qt/qt_control_site.h"
#include "qt/tree_view_p.h"
#include "service/task_service.h"
#include "settings/ini_settings_store.h"

namespace kevra::qt {

Q_LOGGING_CATEGORY(lcKevraQt, "kevra.qt")

// ---- KevraTaskListWidgetPrivate ----

KevraTaskListWidgetPrivate::KevraTaskListWidgetPrivate(KevraTaskListWidget* q) : q_(q) {}

KevraTaskListWidgetPrivate::~KevraTaskListWidgetPrivate() = default;

void KevraTaskListWidgetPrivate::init(SettingsStore& settings, ComponentRegistry& registry) {
    q_->setFocusPolicy(Qt::NoFocus);
    q_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    site_ = new QtControlSite(q_);
    control_ = std::make_unique<ctlKevraTaskList>(*site_, settings, registry);

    label_ = new QLabel(q_);
    label_->setObjectName(QStringLiteral("lblStatus"));
    list_bar_ = new ListBarView(control_->sslistTaskList(), q_);
    list_bar_->setObjectName(QStringLiteral("sslistTaskList"));
    tree_ = new TaskTreeView(control_->sstreeTaskList(), q_);
    tree_->setObjectName(QStringLiteral("sstreeTaskList"));

    const auto runner = [this](const std::function<void()>& action) { site_->Call(action); };
    list_bar_->setRunner(runner);
    tree_->setRunner(runner);
    QObject::connect(list_bar_, &ListBarView::tabOrderChanged, q_, [this] { threadTabOrder(); });
    threadTabOrder();
    retranslate();

    control_->OnStartTask([this](int32_t astrTaskId, const std::string& astrTaskURL,
                                 const std::string& astrTaskParms) {
        emit q_->taskStartRequested(astrTaskId, QString::fromStdString(astrTaskURL),
                                    QString::fromStdString(astrTaskParms));
    });
    site_->Attach(control_.get(), label_, list_bar_, tree_);
}

void KevraTaskListWidgetPrivate::threadTabOrder() {
    // Label, list bar, tree: the control's tab order, kept in one run where
    // the label is, even for headers made after the host built its window.
    // Qt threads the order only from a widget that can take the focus; the
    // label cannot, so it is allowed to for this moment.
    std::vector<QWidget*> order{label_};
    for (QWidget* w : list_bar_->tabOrder()) order.push_back(w);
    order.push_back(tree_);
    const Qt::FocusPolicy label_policy = label_->focusPolicy();
    label_->setFocusPolicy(Qt::ClickFocus);
    for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    label_->setFocusPolicy(label_policy);
}

void KevraTaskListWidgetPrivate::retranslate() {
    q_->setAccessibleName(KevraTaskListWidget::tr("Task list"));
}

template <typename T, typename Pass>
bool KevraTaskListWidgetPrivate::set(T& kept, const T& value, Pass pass) {
    // The control takes every write, as it always has; only a new value is
    // a change to announce.
    site_->Call(pass);
    if (kept == value) return false;
    kept = value;
    return true;
}

// ---- KevraTaskListWidget ----

KevraTaskListWidget::KevraTaskListWidget(QWidget* parent)
    : QWidget(parent), d(std::make_unique<KevraTaskListWidgetPrivate>(this)) {
    d->owned_settings_ = std::make_unique<IniSettingsStore>();
    ComponentRegistry& registry = ComponentRegistry::Instance();
    if (!registry.IsRegistered(service::kTaskServiceProgId)) service::RegisterTaskService(registry);
    d->init(*d->owned_settings_, registry);
}

KevraTaskListWidget::KevraTaskListWidget(SettingsStore& settings, ComponentRegistry& registry,
                                         QWidget* parent)
    : QWidget(parent), d(std::make_unique<KevraTaskListWidgetPrivate>(this)) {
    d->init(settings, registry);
}

KevraTaskListWidget::~KevraTaskListWidget() {
    terminate();
    // The views read the control's models until they are gone.
    delete d->tree_;
    delete d->list_bar_;
    d->tree_ = nullptr;
    d->list_bar_ = nullptr;
}

QString KevraTaskListWidget::machineName() const { return d->machine_name_; }
int KevraTaskListWidget::userNumber() const { return d->user_number_; }
QString KevraTaskListWidget::brand() const { return d->brand_; }
QString KevraTaskListWidget::facilityId() const { return d->facility_id_; }
int KevraTaskListWidget::appId() const { return d->app_id_; }

void KevraTaskListWidget::setMachineName(const QString& machineName) {
    const std::string value = machineName.toStdString();
    if (d->set(d->machine_name_, machineName, [this, &value] { d->control_->MachineName(value); }))
        emit machineNameChanged(machineName);
}

void KevraTaskListWidget::setUserNumber(int userNumber) {
    if (d->set(d->user_number_, userNumber,
               [this, userNumber] { d->control_->UserNumber(userNumber); }))
        emit userNumberChanged(userNumber);
}

void KevraTaskListWidget::setBrand(const QString& brand) {
    const std::string value = brand.toStdString();
    if (d->set(d->brand_, brand, [this, &value] { d->control_->Brand(value); }))
        emit brandChanged(brand);
}

void KevraTaskListWidget::setFacilityId(const QString& facilityId) {
    const std::string value = facilityId.toStdString();
    if (d->set(d->facility_id_, facilityId, [this, &value] { d->control_->FacilityId(value); }))
        emit facilityIdChanged(facilityId);
}

void KevraTaskListWidget::setAppId(int appId) {
    if (d->set(d->app_id_, appId, [this, appId] { d->control_->AppId(appId); }))
        emit appIdChanged(appId);
}

void KevraTaskListWidget::setMessageHandler(MessageHandler handler) {
    if (!handler) {
        d->site_->SetBoxHandler(nullptr);
        return;
    }
    d->site_->SetBoxHandler([handler = std::move(handler)](const QtControlSite::BoxRequest& box) {
        const Message message{QString::fromStdString(box.title), QString::fromStdString(box.prompt),
                              IconFor(box.icon), ButtonsFor(box.buttons)};
        return ResultFor(handler(message));
    });
}

QSize KevraTaskListWidget::sizeHint() const {
    return QSize(d->site_->PixelsX(d->site_->Width()), d->site_->PixelsY(d->site_->Height()));
}

QSize KevraTaskListWidget::minimumSizeHint() const { return sizeHint(); }

void KevraTaskListWidget::loadData() {
    d->site_->Call([this] { d->control_->LoadData(); });
}

void KevraTaskListWidget::selectTask() {
    d->site_->Call([this] { d->control_->SelectTask(); });
}

void KevraTaskListWidget::terminate() {
    if (d->site_) d->site_->Terminate();
}

bool KevraTaskListWidget::event(QEvent* event) {
    // Another screen may have another DPI: keep the size in inches.
    if (event->type() == QEvent::ScreenChangeInternal) d->site_->ScreenChanged();
    return QWidget::event(event);
}

void KevraTaskListWidget::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) d->retranslate();
    QWidget::changeEvent(event);
}

void KevraTaskListWidget::paintEvent(QPaintEvent* event) {
    // The control draws nothing itself; the paint is its notification.
    d->site_->SurfacePainted(event->region());
}

void KevraTaskListWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    d->site_->SurfaceResized();
}

}  // namespace kevra::qt
