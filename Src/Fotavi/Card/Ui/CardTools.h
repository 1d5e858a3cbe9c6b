// The one entry of the card tools into the program (start-up,
// RegisterProgramParts): registers the SD viewer and the file transfer with
// the main frame, each behind the card check; each tool, when it opens, hands
// the card windows what they need from the program.
#pragma once

void RegisterCardParts();

// The card check before a card tool opens: TRUE with a card; otherwise the
// message ("SD memory card is not inserted." for status 1, "Unable to
// access to SD memory." else) is shown and FALSE returned.
int CheckCardPresent();

// Fills the card host from the main frame that opens a tool (also used by
// the slide show's tool factory).
class CMainFrame;
void BindCardHost(CMainFrame* mainFrame);
