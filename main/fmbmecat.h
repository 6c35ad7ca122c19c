#pragma once
// The BMEcat catalogue build as of a date.

#include "session/forms.h"

#include <QDialog>

class DateField;
class QPushButton;

class fmbmecat final : public QDialog, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(fmbmecat)
public:
    explicit fmbmecat(QWidget *parent = nullptr);
    ~fmbmecat() override;

    void Form_Unload() override {}
    void BUStart_Click();

signals:
    void jobStarted(); // the main server took the catalogue build

protected:
    bool event(QEvent *event) override;

private:
    DateField *m_datum = nullptr;
    QPushButton *m_BUStart = nullptr;
    bool m_gatewayFailed = false; // "Start" stays off for the rest of this dialog
};
