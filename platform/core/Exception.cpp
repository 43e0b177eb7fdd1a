#include "Exception.h"

#include <utility>

Exception::Exception(std::string message) : message_(std::move(message)) {}

Exception::Exception(std::string message, std::shared_ptr<const Exception> inner)
    : message_(std::move(message)), inner_(std::move(inner)) {}

Exception::~Exception() = default;
