// A PC/SC service whose every answer comes from fuzzdouble::current: reader
// lists, reader states and ATRs, connections, transactions and card answers.
#pragma once

namespace fuzzdouble
{

// Puts the double in place of the PC/SC client library (pcsc::installApi)
// and shortens the response timeout (the double never blocks).
void installPcsc();

} // namespace fuzzdouble
