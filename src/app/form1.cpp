#include "form1.h"

#include "startup.h"

namespace psmerge {

Form1::Form1(Desktop& desktop, TextFiles& files, InstanceTest& instances, QWidget* parent)
    : QWidget(parent), desktop_(desktop), files_(files), instances_(instances) {
    setWindowTitle(QStringLiteral("PS merge"));
}

void Form1::Load() { Form_Load(state_, desktop_, instances_); }

}  // namespace psmerge
