// TTemplateList: the open templates and their files.
#include "workflow/templatelist.h"

namespace lapido {

TTemplateList::TTemplateList()
{
    m_names << QStringLiteral("Default");
    m_templates << QStringLiteral("<tree2xml app=\"Lapidograph.exe\">");
    m_shortcuts << QString();
    m_saveHistory << QStringLiteral("false");
}

} // namespace lapido
