#pragma once
// The history window: the latest trace lines, newest first.

#include <QWidget>

class QTreeWidget;

namespace cacheapi {

class frmProgrammverlauf final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmProgrammverlauf)
public:
    static constexpr int MaxLines = 100;

    explicit frmProgrammverlauf(QWidget *parent = nullptr);
    ~frmProgrammverlauf() override;

    void addLine(const QString &source, const QString &step, const QString &detail);
    QTreeWidget *Verlauf() const { return m_verlauf; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QTreeWidget *m_verlauf;
};

} // namespace cacheapi
