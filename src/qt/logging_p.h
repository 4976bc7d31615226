// The logging category of the Qt front-end, "kevra.qt". What the widget
// logs (a call into the control that failed in a way the control could not
// report itself) goes here, so that a host can turn it on and off with
// QT_LOGGING_RULES or QLoggingCategory::setFilterRules like Qt's own
// categories. Private to the Qt front-end (not installed).
#pragma once

#include <QLoggingCategory>

namespace kevra::qt {

Q_DECLARE_LOGGING_CATEGORY(lcKevraQt)

}  // namespace kevra::qt
