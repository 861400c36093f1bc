// Tesseract reading one line of an inscription.
#include "inspection/textreader.h"

#include <tesseract/baseapi.h>

#include <vector>

namespace lapido {

TextReader::TextReader() = default;

TextReader::~TextReader()
{
    if (m_api)
        m_api->End();
}

bool TextReader::start(QString* error)
{
    if (m_api && m_started)
        return true;
    if (!m_startError.isEmpty()) {
        if (error)
            *error = m_startError;
        return false;
    }
    m_api = std::make_unique<tesseract::TessBaseAPI>();
    // Serial numbers are not words: the dictionaries would only pull the reading towards them.
    std::vector<std::string> names{"load_system_dawg", "load_freq_dawg"};
    std::vector<std::string> values{"0", "0"};
    if (m_api->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false) != 0) {
        m_startError = QStringLiteral("the OCR engine has no English language data (tesseract-ocr-eng)");
        m_api.reset();
        if (error)
            *error = m_startError;
        return false;
    }
    m_api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    m_started = true;
    return true;
}

std::optional<QString> TextReader::readLine(const cv::Mat& picture, const QString& allowed, QString* error)
{
    if (picture.empty() || picture.type() != CV_8UC1) {
        if (error)
            *error = QStringLiteral("no picture to read");
        return std::nullopt;
    }
    if (!start(error))
        return std::nullopt;
    m_api->SetVariable("tessedit_char_whitelist", allowed.toUtf8().constData());
    m_api->SetImage(picture.data, picture.cols, picture.rows, 1, int(picture.step));
    m_api->SetSourceResolution(300);
    const std::unique_ptr<char[]> text(m_api->GetUTF8Text());
    m_api->Clear();
    return text ? QString::fromUtf8(text.get()).trimmed() : QString();
}

} // namespace lapido
