// TCustomFonts: fonts made of one drawing per digit, one folder per font under the working folder.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace lapido {

class TContourList;

class TCustomFonts {
public:
    // Reads the working folder and creates its "CustomFontsFolder" when missing (a failure to
    // create is ignored).
    TCustomFonts();

    // Appends the name of every subfolder of the custom-fonts folder, in the order the file
    // system lists them.
    void GetCustomFontNames(QStringList& listOfCustomFonts);

    // The working folder with "CustomFontsFolder" appended.
    QString folder() const;

private:
    QString m_workingDir;
};

// True when the name (case ignored) is a subfolder of the custom-fonts folder now; the check
// creates nothing.
bool isCustomFont(const QString& fontName);

// The folder of the custom font of that name (case ignored) as it is now, or an empty string
// when there is none: one look at the store and the folder for a whole run of characters.
QString customFontFolder(const QString& fontName);

// The outline of the digit's drawing in a folder found by customFontFolder, normalised to height 1 with its left edge at 0; its
// width-to-height ratio goes into CellIncX. A missing or unreadable drawing gives an empty list
// and leaves CellIncX untouched.
std::unique_ptr<TContourList> customDigitOutline(const QString& fontFolder, char16_t digit, double& CellIncX);

} // namespace lapido
