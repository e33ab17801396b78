// Forward declaration of the diagnostic recorder, for interfaces that only pass it on.
#pragma once

class vcDiagObject;
