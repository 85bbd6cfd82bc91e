#include "bounded_text_iarchive.hpp"

#include <boost/archive/impl/archive_serializer_map.ipp>
#include <boost/archive/impl/basic_text_iarchive.ipp>
#include <boost/archive/impl/text_iarchive_impl.ipp>
#include <stdexcept>

namespace vela::iam
{

Bounded_text_iarchive::Bounded_text_iarchive(std::istream& stream, std::size_t max_string_length)
    // A char archive converts nothing; building the conversion facet would cost more than the
    // rest of a request. The flag changes nothing in what is read.
    : boost::archive::text_iarchive_impl<Bounded_text_iarchive>(stream, boost::archive::no_codecvt)
    , m_max_string_length(max_string_length)
{
    init();
}

void Bounded_text_iarchive::load(std::string& text)
{
    std::size_t size = 0;
    *this->This() >> size;
    if (size > m_max_string_length)
    {
        throw std::length_error("string length in archive exceeds the request size");
    }
    // the blank between length and characters
    is.get();
    text.resize(size);
    if (size != 0)
    {
        is.read(&text[0], static_cast<std::streamsize>(size));
        if (is.gcount() != static_cast<std::streamsize>(size))
        {
            throw std::invalid_argument("string in archive ends early");
        }
    }
}

} // namespace vela::iam

template class boost::archive::basic_text_iarchive<vela::iam::Bounded_text_iarchive>;
template class boost::archive::text_iarchive_impl<vela::iam::Bounded_text_iarchive>;
template class boost::archive::detail::archive_serializer_map<vela::iam::Bounded_text_iarchive>;
