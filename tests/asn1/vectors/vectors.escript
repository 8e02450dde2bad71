%% Encodes the known-answer values of vectors.hex with the module compiled
%% from vectors.asn; prints one line per vector: name, then the hex.
main([Dir]) ->
    true = code:add_path(Dir),
    lists:foreach(
      fun({Name, Type, Value}) ->
              {ok, Bytes} = 'Vectors':encode(Type, Value),
              io:format("~s ~s~n", [Name, binary:encode_hex(iolist_to_binary(Bytes))])
      end, vectors()).

everything_full() ->
    {'Everything', true, 'NULL', 5, -5, 1000, 70000, 300000, -129, 300, 11, blue,
     invalidSlot, 46, <<1,2,3>>, <<16#AB,16#CD>>, <<7>>, <<1:1,0:1,1:1>>,
     <<0:11,1:1>>, "hello", "gw", "12 3", "42", "Ab", "ab", {1,2,840},
     "20240215184100.500Z", {number, 7},
     [{'Item', 1, asn1_NOVALUE, asn1_NOVALUE}, {'Item', 2, "two", asn1_NOVALUE}],
     [9], 5, {'Item', 3, asn1_NOVALUE, asn1_NOVALUE}}.

everything_other() ->
    {'Everything', false, 'NULL', 0, -128, 0, 4294967295, 112000, 2147483647, -5, 5,
     red, destroyInProgress, asn1_NOVALUE, <<>>, <<0,0>>, <<>>,
     <<16#F0,16#0F,16#A:4>>, <<16#FFF:12>>, "", "abcdefghijklmnopqrstuvwxyz",
     "98765432", "999", "", "", {2,100,3}, "19991231235959Z", {later, true}, [],
     [1,2,3,4], asn1_NOVALUE, {'Item', 65535, "w", 1000}}.

everything_item() ->
    {'Everything', true, 'NULL', 7, 127, 1023, 0, 399975, -2147483648, 2147483647, 0,
     green, invalidParams, 0, <<"0123456789">>, <<1,2>>, <<1,2,3,4,5,6,7,8,9,10>>,
     <<1:1>>, <<0:12>>, "x", "y", "0", "0", "z", "z", {0,0},
     "20000101000000Z", {item, {'Item', 4, "four", -1}},
     [{'Item', 5, asn1_NOVALUE, 77}], [255], -300, asn1_NOVALUE}.

vectors() ->
    [{envelope_seq_ping, 'Envelope', {'Envelope', 5, asn1_NOVALUE, {command, {ping, 'NULL'}}}},
     {envelope_ping, 'Envelope', {'Envelope', asn1_NOVALUE, asn1_NOVALUE, {command, {ping, 'NULL'}}}},
     {envelope_seq_slot_ping, 'Envelope', {'Envelope', 5, 3, {command, {ping, 'NULL'}}}},
     {envelope_success, 'Envelope', {'Envelope', 5, 3, {response, {success, 'NULL'}}}},
     {envelope_error, 'Envelope', {'Envelope', 5, 3, {response, {error, invalidSlot}}}},
     {envelope_destroy_in_progress, 'Envelope', {'Envelope', 300, 1023, {response, {error, destroyInProgress}}}},
     {envelope_connect, 'Envelope', {'Envelope', asn1_NOVALUE, 1023, {command, {connect, 17}}}},
     {envelope_user_data, 'Envelope', {'Envelope', asn1_NOVALUE, 7, {command, {userData, <<16#DE,16#AD,16#BE,16#EF>>}}}},
     {envelope_number, 'Envelope', {'Envelope', asn1_NOVALUE, 0, {signal, {number, "5551234"}}}},
     {envelope_abort, 'Envelope', {'Envelope', -1, asn1_NOVALUE, {signal, {abort, -129}}}},
     {everything_full, 'Everything', everything_full()},
     {everything_other, 'Everything', everything_other()},
     {everything_item, 'Everything', everything_item()},
     {slot_0, 'Slot', 0}, {slot_3, 'Slot', 3}, {slot_1023, 'Slot', 1023},
     {word_0, 'Word', 0}, {word_70000, 'Word', 70000}, {word_max, 'Word', 4294967295},
     {signed8_min, 'Signed8', -128}, {signed8_minus5, 'Signed8', -5}, {signed8_max, 'Signed8', 127},
     {range3_low, 'Range3', 112000}, {range3_high, 'Range3', 399975},
     {big_0, 'Big', 0}, {big_127, 'Big', 127}, {big_128, 'Big', 128}, {big_minus1, 'Big', -1},
     {big_minus128, 'Big', -128}, {big_minus129, 'Big', -129}, {big_256, 'Big', 256},
     {big_max, 'Big', 2147483647}, {big_min, 'Big', -2147483648},
     {semi_low, 'Semi', -5}, {semi_300, 'Semi', 300}, {semi_max, 'Semi', 2147483647},
     {ext_5, 'Ext', 5}, {ext_11, 'Ext', 11}, {ext_minus1, 'Ext', -1},
     {colour_blue, 'Colour', blue}, {cause_invalid_slot, 'ErrorCause', invalidSlot},
     {octets_3, 'Octets', <<1,2,3>>}, {octets_200, 'Octets', binary:copy(<<16#5A>>, 200)},
     {bits_3, 'Bits', <<1:1,0:1,1:1>>}, {bits_20, 'Bits', <<16#F0,16#0F,16#A:4>>},
     {flags, 'Flags', <<16#801:12>>},
     {text_hello, 'Text', "hello"}, {digits, 'Digits', "12 3"}, {printable, 'Printable', "Ab"},
     {bmp, 'Bmp', "ab"}, {oid_840, 'Oid', {1,2,840}}, {oid_100, 'Oid', {2,100,3}},
     {time, 'Time', "20240215184100.500Z"},
     {alternatives_none, 'Alternatives', {none, 'NULL'}},
     {alternatives_number, 'Alternatives', {number, 7}},
     {alternatives_text, 'Alternatives', {text, "x"}},
     {alternatives_later, 'Alternatives', {later, true}},
     {alternatives_item, 'Alternatives', {item, {'Item', 3, asn1_NOVALUE, asn1_NOVALUE}}},
     {items_empty, 'ItemList', []},
     {items_two, 'ItemList', [{'Item', 1, asn1_NOVALUE, asn1_NOVALUE}, {'Item', 2, "two", asn1_NOVALUE}]},
     {item_weight, 'Item', {'Item', 9, asn1_NOVALUE, 1000}},
     {bounded_1, 'Bounded', [9]}, {bounded_4, 'Bounded', [1,2,3,4]}].
