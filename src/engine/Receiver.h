#pragma once

#include <QString>

class AppContext;

// Moves the received messages of the SIM into the Inbox: lists the SIM, stores every
// received message as a new Inbox row and then deletes it from the SIM. A message whose
// row could not be stored stays on the SIM for the next pass. `wait` is the listing's
// answer wait in milliseconds. The listing and the first message are handled at once,
// each further message at a later turn of the event loop (ctx.engine.ReceivePassInProgress
// is set until the pass is over); a call while a pass is under way does nothing.
void ReceiveNewMessages(AppContext& ctx, int wait);

// The sender's number as the Inbox keeps it: numbers of up to 10 characters, and longer
// ones that begin with neither "+" nor "0", get a "+" in front.
QString normaliseSender(const QString& number);
