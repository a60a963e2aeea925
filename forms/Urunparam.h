#pragma once
// "放電記録の条件": the time unit, discharge resistor and FET voltage a stored
// run is computed with, in a modal dialog; the caller has the run computed
// again with what was chosen.
#include "analysis/Capacity.h"

#include <QDialog>

class NumericField;
class QPushButton;
class RadioGroup;

class Trunparam : public QDialog
{
    Q_OBJECT
public:
    explicit Trunparam(const analysis::CapacityParameters &p, QWidget *parent = nullptr);

    RadioGroup *timeUnitGroup; // 1分, 10秒, 1秒
    NumericField *resistorField; // x0.01Ω, 10..1000
    NumericField *fetVoltageField; // x0.01V, 0..100
    QPushButton *okButton; // OK
    QPushButton *cancelButton; // キャンセル

    analysis::CapacityParameters parameters();
};
