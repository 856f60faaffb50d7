// The token kinds the module offers for an inserted card. The library that links
// the module together defines this function; the load hook calls it once the
// manager exists.
#pragma once

class CP11Manager;

void vokRegisterTokenKinds(CP11Manager &manager);
