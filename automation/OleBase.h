// Stands in for the header widl would make from OleBase.idl: the real declarations.
#pragma once
#include <ocidl.h>
