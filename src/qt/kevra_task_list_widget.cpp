// The task list control's Qt widget: siting, host API and event wiring.
#include "qt/kevra_task_list_widget.h"

#include <QEvent>
#include <QLabel>
#include <QPaintEvent>

#include "control/ctlKevraTaskList.h"
#include "qt/list_bar_view.h"
#include "qt/qt_control_site.h"
#include "qt/tree_view.h"
#include "service/task_service.h"
#include "settings/ini_settings_store.h"

namespace kevra::qt {

KevraTaskListWidget::KevraTaskListWidget(QWidget* parent)
    : QWidget(parent), owned_settings_(std::make_unique<IniSettingsStore>()) {
    ComponentRegistry& registry = ComponentRegistry::Instance();
    if (!registry.IsRegistered(service::kTaskServiceProgId)) service::RegisterTaskService(registry);
    Init(*owned_settings_, registry);
}

KevraTaskListWidget::KevraTaskListWidget(SettingsStore& settings, ComponentRegistry& registry,
                                         QWidget* parent)
    : QWidget(parent) {
    Init(settings, registry);
}

void KevraTaskListWidget::Init(SettingsStore& settings, ComponentRegistry& registry) {
    setFocusPolicy(Qt::NoFocus);
    site_ = new QtControlSite(this);
    control_ = std::make_unique<ctlKevraTaskList>(*site_, settings, registry);

    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("lblStatus"));
    list_bar_ = new ListBarView(control_->sslistTaskList(), this);
    list_bar_->setObjectName(QStringLiteral("sslistTaskList"));
    tree_ = new TaskTreeView(control_->sstreeTaskList(), this);
    tree_->setObjectName(QStringLiteral("sstreeTaskList"));

    const auto runner = [this](const std::function<void()>& action) { site_->Call(action); };
    list_bar_->SetRunner(runner);
    tree_->SetRunner(runner);
    connect(list_bar_, &ListBarView::tabOrderChanged, this, &KevraTaskListWidget::ThreadTabOrder);
    ThreadTabOrder();

    control_->OnStartTask([this](int32_t astrTaskId, const std::string& astrTaskURL,
                                 const std::string& astrTaskParms) {
        emit startTask(astrTaskId, QString::fromStdString(astrTaskURL),
                       QString::fromStdString(astrTaskParms));
    });
    site_->Attach(control_.get(), label_, list_bar_, tree_);
}

KevraTaskListWidget::~KevraTaskListWidget() {
    terminate();
    // The views read the control's models until they are gone.
    delete tree_;
    delete list_bar_;
    tree_ = nullptr;
    list_bar_ = nullptr;
}

void KevraTaskListWidget::ThreadTabOrder() {
    // Label, list bar, tree: the control's tab order, kept in one run where
    // the label is, even for headers made after the host built its window.
    // Qt threads the order only from a widget that can take the focus; the
    // label cannot, so it is allowed to for this moment.
    std::vector<QWidget*> order{label_};
    for (QWidget* w : list_bar_->TabOrder()) order.push_back(w);
    order.push_back(tree_);
    const Qt::FocusPolicy label_policy = label_->focusPolicy();
    label_->setFocusPolicy(Qt::ClickFocus);
    for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
    label_->setFocusPolicy(label_policy);
}

void KevraTaskListWidget::setMachineName(const QString& machineName) {
    const std::string value = machineName.toStdString();
    site_->Call([this, &value] { control_->MachineName(value); });
}

void KevraTaskListWidget::setUserNumber(int userNumber) {
    site_->Call([this, userNumber] { control_->UserNumber(userNumber); });
}

void KevraTaskListWidget::setBrand(const QString& brand) {
    const std::string value = brand.toStdString();
    site_->Call([this, &value] { control_->Brand(value); });
}

void KevraTaskListWidget::setFacilityId(const QString& facilityId) {
    const std::string value = facilityId.toStdString();
    site_->Call([this, &value] { control_->FacilityId(value); });
}

void KevraTaskListWidget::setAppId(int appId) {
    site_->Call([this, appId] { control_->AppId(appId); });
}

void KevraTaskListWidget::loadData() {
    site_->Call([this] { control_->LoadData(); });
}

void KevraTaskListWidget::selectTask() {
    site_->Call([this] { control_->SelectTask(); });
}

void KevraTaskListWidget::terminate() {
    if (site_) site_->Terminate();
}

bool KevraTaskListWidget::event(QEvent* event) {
    // Another screen may have another DPI: keep the size in inches.
    if (event->type() == QEvent::ScreenChangeInternal) site_->ScreenChanged();
    return QWidget::event(event);
}

void KevraTaskListWidget::paintEvent(QPaintEvent* event) {
    // The control draws nothing itself; the paint is its notification.
    site_->SurfacePainted(event->region());
}

void KevraTaskListWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    site_->SurfaceResized();
}

}  // namespace kevra::qt
