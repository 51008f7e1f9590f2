#include "core/CapturePipeline.h"

namespace quillet {

QString describe(CaptureError error) {
    switch (error) {
    case CaptureError::displayNotFound: return QStringLiteral("дисплей не найден");
    case CaptureError::windowNotFound: return QStringLiteral("окно не найдено");
    case CaptureError::grabFailed: return QStringLiteral("не удалось получить изображение экрана");
    }
    return {};
}

}  // namespace quillet
