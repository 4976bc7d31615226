// The private side of kevra::qt::KevraTaskListWidget: the control it sites,
// the container, the views, and what the Qt layer remembers of the context
// it passed on. Not installed; the widget, the in-tree tools (kevra-demo)
// and the tests reach the parts through KevraTaskListWidgetPrivate::get().
#pragma once

#include <QString>
#include <memory>

#include "qt/kevra_task_list_widget.h"

class QLabel;

namespace kevra {
class ctlKevraTaskList;
}  // namespace kevra

namespace kevra::qt {

class ListBarView;
class QtControlSite;
class TaskTreeView;

class KevraTaskListWidgetPrivate {
  public:
    explicit KevraTaskListWidgetPrivate(KevraTaskListWidget* q);
    ~KevraTaskListWidgetPrivate();

    static KevraTaskListWidgetPrivate* get(KevraTaskListWidget* widget) { return widget->d.get(); }

    ctlKevraTaskList& control() { return *control_; }
    QtControlSite& site() { return *site_; }
    QLabel* statusLabel() const { return label_; }
    ListBarView* listBarView() const { return list_bar_; }
    TaskTreeView* treeView() const { return tree_; }

  private:
    friend class KevraTaskListWidget;

    void init(SettingsStore& settings, ComponentRegistry& registry);
    void threadTabOrder();
    void retranslate();
    // Passes a context value on to the control and remembers it.
    template <typename T, typename Pass>
    bool set(T& kept, const T& value, Pass pass);

    KevraTaskListWidget* q_;
    std::unique_ptr<SettingsStore> owned_settings_;
    QtControlSite* site_ = nullptr;
    std::unique_ptr<ctlKevraTaskList> control_;
    QLabel* label_ = nullptr;
    ListBarView* list_bar_ = nullptr;
    TaskTreeView* tree_ = nullptr;

    QString machine_name_;
    int user_number_ = 0;
    QString brand_;
    QString facility_id_;
    int app_id_ = 0;
};

}  // namespace kevra::qt
