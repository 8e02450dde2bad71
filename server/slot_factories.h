#pragma once
// Makes every slot factory once, in the order that gives the creation
// chain its order (each factory links itself at the head): the trunk
// factories first, so that they come last, then map, PSTN, RTP, modem,
// mixer, pass-through, MCC, echo, voice, software T.38, ISDN, the two radio
// factories and HDLC. Calling it again changes nothing.
void CreateSlotFactories();
