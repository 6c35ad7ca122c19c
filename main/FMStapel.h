#pragma once
// The batch run monitor: the runs of the current tenant with their state and outcome, kept
// up to date while one runs or waits.

#include "session/forms.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QTableView;
class QTimer;

namespace orvanta::batchruns {
class Filter;
class Model;
} // namespace orvanta::batchruns

class FMStapel final : public QWidget, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FMStapel)
public:
    static constexpr int RefreshMsec = 2000;
    static constexpr int Limit = 200; // newest runs shown

    explicit FMStapel(QWidget *parent = nullptr);
    ~FMStapel() override;

    // Opens the monitor modeless, owned by owner, and reads the runs.
    static FMStapel *showFor(QWidget *owner);
    // Reads the runs as soon as the program is idle (a job was started).
    void refreshSoon();
    void Form_Unload() override;

    bool refreshing() const; // the 2-second refresh is on
    QTableView *view() const { return m_tvLaeufe; }
    orvanta::batchruns::Model *model() const { return m_model; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void load();
    void tick();
    bool readRuns(); // false: failed or not possible now
    void afterRead();
    void showOutcome(const QModelIndex &index);

    QComboBox *m_liJob = nullptr;
    QCheckBox *m_chkFehler = nullptr;
    QTableView *m_tvLaeufe = nullptr;
    orvanta::batchruns::Model *m_model = nullptr;
    orvanta::batchruns::Filter *m_filter = nullptr;
    QTimer *m_timer = nullptr;
    bool m_placed = false;
};
