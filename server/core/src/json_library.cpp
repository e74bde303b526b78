// Boost.JSON's compiled part, in this one translation unit (header-only mode).
#include <boost/json/src.hpp>
