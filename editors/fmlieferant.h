#pragma once
// The negative list of suppliers: those kept out of the web interface.

#include "editors/listeditor.h"

class fmlieferant final : public ListEditor
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(fmlieferant)
public:
    explicit fmlieferant(QWidget *parent = nullptr);
};
