# The base profile: what `varnel validate` checks when no profile is named.
#
# The field definition table that the checks are built from is the one INTERPOL publishes for
# its INT-I implementation of ANSI/NIST-ITL 1-2011. Where that table is tighter than the
# standard itself (a single version, INTERPOL's own transaction types and code lists), the
# lines below put back what the standard allows, so that any conformant transaction passes.
profile base

# Every edition the reader handles; the table accepts only 0600.
1.002 values 0200,0201,0300,0400,0500,0501,0502,0600
# Transaction types are each receiver's own list (the table lists INTERPOL's).
1.004 values any
1.004 type AN
1.004 length 1..16
# Optional in the standard; the table makes the domain mandatory.
1.013 optional
1.013-A optional
1.013-B optional
# The standard allows any character set index of its table.
1.015-A values any
1.015-A codes CSI
# Free text in the standard; the table asks for INTERPOL's form of the control number.
1.009 pattern none
1.009 type ANS
1.009 length 1..*
1.010 pattern none
1.010 type ANS
1.010 length 1..*
# Record types 3, 5 and 6 were withdrawn in the 2011 edition (version 0500).
record 3 deprecated-from 500
record 5 deprecated-from 500
record 6 deprecated-from 500

# The table's value lists and patterns are INTERPOL's choices within the standard's wider ones:
# a value outside them is a warning here, and a receiver's profile makes it an error.
value-severity warning
# The versions, though, are the standard's own.
1.002 severity error
# The content list is checked as a whole (record count, types and IDCs against the records).
1.003-A ignore
1.003-B ignore
1.003-C ignore
1.003-D ignore
# Optional in the standard.
1.016 occurs 0..*
1.017 optional
# Ridge count information: the first subfield holds the method, the others the counts; the
# table lists both layouts as one row set, which no subfield can match.
9.138-A ignore
9.138-B ignore
9.138-C ignore
9.138-D ignore
9.138-E ignore
9.138-F ignore
# Type-2 records are user-defined in the standard: only LEN and IDC are its own. The table's
# Type-2 fields are INTERPOL's, and belong in a receiver's profile.
2.* ignore
2.001 check
2.002 check
# Record lengths of any size (the table asks for 4 to 8 digits).
9.001 length 1..*
10.001 length 1..*
13.001 length 1..*
14.001 length 1..*
15.001 length 1..*
20.001 length 1..*
# Up to six finger positions for an image of several fingers (the table allows one).
13.013 occurs 1..6
14.013 occurs 1..6
