# An example receiver's profile: what a fictitious national AFIS asks of the transactions it
# accepts, on top of the standard. Copy it and change it to your receiver's rules; check it with
#   varnel validate --profile my-receiver.profile FOLDER
profile example-receiver

# Only the 2011 edition and its updates.
1.002 values 0500,0501,0502
# Its transaction types.
1.004 values CAR,CNA,MAP,FANC
# Who sends and who receives: agency identifiers of 9 letters or digits.
1.007 required
1.007 type AN
1.007 length 9..9
1.008 required
1.008 type AN
1.008 length 9..9
# Values outside the lists of the field definition table are refused, not just noted.
value-severity error

# One Type-2 record with the subject's name and date of birth.
record 2 occurs 1..1
2.018 mnemonic NAM
2.018 required
2.018 type A
2.018 chars ,-'
2.018 length 3..50
2.022 mnemonic DOB
2.022 required
2.022 type N
2.022 length 8..8
2.022 pattern (19|20)\d{2}(0[1-9]|1[0-2])(0[1-9]|[12]\d|3[01])

# Fingerprints as Type-14 records compressed with WSQ; no Type-4 records.
record 4 forbidden
14.011 values WSQ20
