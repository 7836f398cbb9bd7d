#pragma once
// The desktop form of a data-described dialog, built but not shown. OK
// copies the entries into the form once its check accepts them.
#ifdef TARNEL_HAVE_QT
#include <QDialog>
#include <memory>

#include "app/dialogs/form_dialog.h"

std::unique_ptr<QDialog> BuildQtForm(FormDialog& form, QWidget* parent);
#endif
