#pragma once
// "Kunden": the trade customers of the tenant that take part in the web interface.

#include "editors/listeditor.h"

class fmkund final : public ListEditor
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(fmkund)
public:
    explicit fmkund(QWidget *parent = nullptr);
};
