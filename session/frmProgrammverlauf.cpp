#include "session/frmProgrammverlauf.h"

#include "session/forms.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace cacheapi {

frmProgrammverlauf::frmProgrammverlauf(QWidget *parent)
    : QWidget(parent, Qt::Window), m_verlauf(new QTreeWidget(this))
{
    setObjectName(u"frmProgrammverlauf"_s);
    setWindowTitle(u"Programmverlauf"_s);
    m_verlauf->setObjectName(u"Verlauf"_s);
    m_verlauf->setColumnCount(3);
    m_verlauf->setHeaderLabels({u"Programmteil"_s, u"Text"_s, u"Parameter"_s});
    m_verlauf->setRootIsDecorated(false);
    m_verlauf->setUniformRowHeights(true);
    m_verlauf->setAccessibleName(u"Programmverlauf"_s);
    m_verlauf->header()->resizeSection(0, 220);
    m_verlauf->header()->resizeSection(1, 220);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_verlauf);
    resize(700, 320);
    registerForm(this);
}

frmProgrammverlauf::~frmProgrammverlauf() { unregisterForm(this); }

void frmProgrammverlauf::addLine(const QString &source, const QString &step, const QString &detail)
{
    m_verlauf->insertTopLevelItem(0, new QTreeWidgetItem(QStringList{source, step, detail}));
    while (m_verlauf->topLevelItemCount() > MaxLines)
        delete m_verlauf->takeTopLevelItem(MaxLines);
}

void frmProgrammverlauf::closeEvent(QCloseEvent *event)
{
    // The close box only hides it: the lines stay for the next look.
    event->ignore();
    hide();
}

} // namespace cacheapi
