// Choosing the reader class for a database kind.
#include "readers/CreateReader.h"

#include "readers/AndroidSms.h"
#include "readers/IphoneSms.h"

std::unique_ptr<CSms> CreateReader(DatabaseName kind)
{
    switch (kind) {
    case DatabaseName::Android: return std::make_unique<CAndroidSms>();
    case DatabaseName::Iphone: return std::make_unique<CIphoneSms>();
    case DatabaseName::Other: break;
    }
    return nullptr;
}
