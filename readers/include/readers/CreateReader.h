// The reader for a database kind.
#pragma once

#include <memory>

#include "store/OpenRules.h"
#include "store/Sms.h"

// A new CAndroidSms or CIphoneSms; null for DatabaseName::Other.
std::unique_ptr<CSms> CreateReader(DatabaseName kind);
