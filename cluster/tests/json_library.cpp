// Boost.JSON's compiled part, for the test programs that read nats-server's ports file.
#include <boost/json/src.hpp>
