#pragma once

// Dates as the interface writes them, the Taiwanese way: "2026年12月6日 下午2:19".

#include "domain/Date.h"

#include <QString>

namespace kivo {

QString dateTimeText(Date date);

} // namespace kivo
