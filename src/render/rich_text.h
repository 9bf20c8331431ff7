// Rendering a rich-text page headless, as the editor does before the page is sent: its RTF
// into a document, the document through the process's one renderer into the page's area.
#pragma once

#include "render/rtf_renderer.h"

namespace mx {

class TLCMPanel;
class TLCMRtf;

// The renderer the whole process shares (the editor binds it too).
TRTFDecodeUnit& SharedRenderer();

// Replaces the page's LED pages and payload size. When the font had to shrink, the shrunk
// document is stored back into the page, as the editor saves it. An unreadable document, a
// page without an area on the screen, or an area whose LED page the card cannot address:
// ok = false, a message, and no LED pages. The renderer's binding is restored afterwards;
// its output holds this page's render.
RenderResult RenderRichTextPage(TLCMRtf& page, TLCMPanel& screen);

// RenderRichTextPage in the form the send and export take: false, with the reason, when the
// page cannot be laid out.
bool LayOutRichText(TLCMRtf& page, TLCMPanel& screen, QString* why);

} // namespace mx
