// The OCR engine behind the read-back: Tesseract, started once, reading one line of text.
#pragma once

#include <QString>

#include <opencv2/core.hpp>

#include <memory>
#include <optional>

namespace tesseract {
class TessBaseAPI;
}

namespace lapido {

class TextReader {
public:
    TextReader();
    ~TextReader();
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    // The text of one line of dark writing on white (8-bit grey), limited to the characters
    // of allowed (all when empty). Nullopt when the engine cannot start; error says why.
    std::optional<QString> readLine(const cv::Mat& picture, const QString& allowed, QString* error = nullptr);

private:
    bool start(QString* error);
    std::unique_ptr<tesseract::TessBaseAPI> m_api;
    bool m_started = false;
    QString m_startError;
};

} // namespace lapido
