// The exception class that the win_boundary test plug-in throws; the tests catch it by type.
#ifndef ORV_TEST_BOUNDARY_ERROR_H
#define ORV_TEST_BOUNDARY_ERROR_H

#include <stdexcept>
#include <string>

namespace orv::test {

class TBoundaryError : public std::runtime_error {
public:
    TBoundaryError(const std::string& Msg, int Code) : std::runtime_error(Msg), Code_(Code) {}
    int Code() const { return Code_; }

private:
    int Code_;
};

}  // namespace orv::test

#endif
