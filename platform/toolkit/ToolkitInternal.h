#pragma once

// Pieces shared by the toolkit's own sources; not for the forms.

#include <QFont>
#include <QObject>

#include "platform/toolkit/Toolkit.h"

namespace platform {

QFont ToQFont(const TFont& font);

// Receives the posted window messages and hands each to the living form it names.
class MessagePump : public QObject {
  public:
    bool event(QEvent* event) override;
};

}  // namespace platform
