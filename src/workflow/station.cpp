// TStation: construction, the window's life cycle without widgets, start switches, the
// symbol-list encoding, the timers' actions, jogging and the reset-button variants.
#include "workflow/station.h"

#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "records/stlogfile.h"
#include "workflow/templatelist.h"

namespace lapido {

TStation::TStation(TStationServices services)
    : m_services(std::move(services)),
      m_richEdit(std::make_unique<DocumentRichEdit>()),
      m_templates(std::make_unique<TTemplateList>())
{
}

TStation::~TStation()
{
    // Glyphs of the tree may refer to the rich edit; free them first.
    m_tree.Clear();
}

} // namespace lapido
