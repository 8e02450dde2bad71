#include "signalling/lapd.h"

// TEI management on a BRI user link. The assignment procedure (Identity
// requests under T202) and UI frames are not handled yet: a BRI link keeps
// the TEI it was given and drops UI frames.

namespace ISDN {

void LAPD::BeginTeiAssignProcedure() {}

void LAPD::on_T202A() {}

void LAPD::on_UI(Packet&) {}

}  // namespace ISDN
