#pragma once

#include <QString>

// Shows the application's modal information alerts: a title, a message and
// one OK button. Returns when the user has dismissed it. Tests replace it
// with a presenter that records what would have been shown.
class AlertPresenter
{
public:
    virtual ~AlertPresenter();
    virtual void showAlert(const QString &title, const QString &message);
};
