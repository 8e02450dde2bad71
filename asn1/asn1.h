#pragma once
// Every value class of the ASN.1 runtime: what a message module includes.

#include "asn1/abstract_data.h"
#include "asn1/choice.h"
#include "asn1/generalized_time.h"
#include "asn1/object_identifier.h"
#include "asn1/open_data.h"
#include "asn1/scalars.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/strings.h"
#include "asn1/type_info.h"
#include "asn1/visitor.h"
