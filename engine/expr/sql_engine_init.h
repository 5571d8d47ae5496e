#pragma once

namespace orb {

// Installs the SQL layer's services in the layers below it: field default
// values that are expressions (NOW, CURRENT_DATE, 1 + 1, ...) are parsed and
// evaluated by the expression engine. Call once at engine start, before
// field definitions are loaded; calling it again changes nothing.
void InitSqlEngine();

}  // namespace orb
